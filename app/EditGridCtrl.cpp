#include "app/EditGridCtrl.h"

#include "app/GridSort.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <string>
#include <vector>

namespace velmora {

namespace {

// The colours as set, -1 for the palette's, kept beside the brushes that show them.
constexpr int kTextColourRole = Qt::UserRole + 1;
constexpr int kBackColourRole = Qt::UserRole + 2;
constexpr int kFormatRole = Qt::UserRole + 3;

Qt::Alignment CellAlignment(int format)
{
    switch (format) {
    case GridCenter:
        return Qt::AlignCenter;
    case GridRight:
        return Qt::AlignRight | Qt::AlignVCenter;
    default:
        return Qt::AlignLeft | Qt::AlignVCenter;
    }
}

bool Matches(int state, int filter) { return (filter & RowAny) || (state & filter) == filter; }

} // namespace

CEditGridCtrl::CEditGridCtrl(QWidget* parent) : QTableWidget(parent)
{
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSortingEnabled(false);
    setWordWrap(false);
    verticalHeader()->hide();
    horizontalHeader()->setSectionsClickable(false);
    horizontalHeader()->setHighlightSections(false);
    connect(horizontalHeader(), &QHeaderView::sectionClicked, this,
            &CEditGridCtrl::onHeaderClicked);
}

CEditGridCtrl::~CEditGridCtrl() = default;

QTableWidgetItem* CEditGridCtrl::cell(int row, int column)
{
    QTableWidgetItem* it = item(row, column);
    if (it == nullptr) {
        it = new QTableWidgetItem;
        const QTableWidgetItem* header = horizontalHeaderItem(column);
        it->setTextAlignment(CellAlignment(header ? header->data(kFormatRole).toInt() : 0));
        it->setData(kTextColourRole, -1);
        it->setData(kBackColourRole, -1);
        setItem(row, column, it);
    }
    return it;
}

void CEditGridCtrl::fillRow(int row)
{
    for (int c = 0; c < columnCount(); ++c)
        cell(row, c);
}

void CEditGridCtrl::forgetSortOrder()
{
    m_sortColumn = -1;
    m_sortAscending = true;
}

int CEditGridCtrl::InsertColumn(int index, const QString& heading, int format, int width)
{
    EndEdit(true);
    if (index < 0)
        return -1;
    index = std::min(index, columnCount());
    insertColumn(index);
    auto* header = new QTableWidgetItem(heading);
    header->setData(kFormatRole, format);
    header->setTextAlignment(CellAlignment(format));
    setHorizontalHeaderItem(index, header);
    setColumnWidth(index, width);
    for (int r = 0; r < rowCount(); ++r)
        cell(r, index);
    return index;
}

int CEditGridCtrl::InsertItem(int index, const QString& text)
{
    EndEdit(true);
    forgetSortOrder();
    if (index < 0)
        return -1;
    index = std::min(index, rowCount());
    insertRow(index);
    fillRow(index);
    if (columnCount() > 0)
        item(index, 0)->setText(text);
    return index;
}

bool CEditGridCtrl::SetItemText(int row, int column, const QString& text)
{
    EndEdit(true);
    forgetSortOrder();
    if (row < 0 || row >= rowCount() || column < 0 || column >= columnCount())
        return false;
    cell(row, column)->setText(text);
    return true;
}

QString CEditGridCtrl::GetItemText(int row, int column) const
{
    const QTableWidgetItem* it = item(row, column);
    return it ? it->text() : QString();
}

bool CEditGridCtrl::DeleteItem(int row, bool selectNext)
{
    EndEdit(m_editRow != row);
    if (row < 0 || row >= rowCount())
        return false;
    if (selectNext && row + 1 < rowCount())
        SetRowState(row + 1, RowSelected);
    removeRow(row);
    return true;
}

int CEditGridCtrl::DeleteItems(int filter)
{
    EndEdit(false);
    setUpdatesEnabled(false);
    int deleted = 0;
    if (filter & RowAny) {
        deleted = rowCount();
        setRowCount(0);
    } else {
        for (int r = rowCount() - 1; r >= 0; --r) {
            if (Matches(GetRowState(r), filter)) {
                removeRow(r);
                ++deleted;
            }
        }
    }
    setUpdatesEnabled(true);
    return deleted;
}

void CEditGridCtrl::SetEditable(bool editable)
{
    if (!editable)
        EndEdit(true);
    m_editable = editable;
}

bool CEditGridCtrl::SetSortable(bool sortable)
{
    horizontalHeader()->setSectionsClickable(sortable);
    if (!sortable)
        forgetSortOrder();
    horizontalHeader()->viewport()->repaint();
    return true;
}

void CEditGridCtrl::applyColour(int row, int column, int colour, bool text)
{
    QTableWidgetItem* it = cell(row, column);
    it->setData(text ? kTextColourRole : kBackColourRole, colour);
    const QBrush brush = colour < 0 ? QBrush() : QBrush(QColor::fromRgb(static_cast<QRgb>(colour)));
    if (text)
        it->setForeground(brush);
    else
        it->setBackground(brush);
}

void CEditGridCtrl::colourCells(int row, int column, int colour, bool text, bool redraw)
{
    const bool validRow = row >= 0 && row < rowCount();
    const bool validColumn = column >= 0 && column < columnCount();
    for (int r = 0; r < rowCount(); ++r) {
        if (validRow && r != row)
            continue;
        for (int c = 0; c < columnCount(); ++c) {
            if (validColumn && c != column)
                continue;
            applyColour(r, c, colour, text);
        }
    }
    if (redraw)
        viewport()->repaint();
}

void CEditGridCtrl::SetItemTextColor(int row, int column, int colour, bool redraw)
{
    colourCells(row, column, colour, true, redraw);
}

void CEditGridCtrl::SetItemBkColor(int row, int column, int colour, bool redraw)
{
    colourCells(row, column, colour, false, redraw);
}

int CEditGridCtrl::GetItemTextColor(int row, int column) const
{
    const QTableWidgetItem* it = item(row, column);
    return it ? it->data(kTextColourRole).toInt() : -1;
}

int CEditGridCtrl::GetItemBkColor(int row, int column) const
{
    const QTableWidgetItem* it = item(row, column);
    return it ? it->data(kBackColourRole).toInt() : -1;
}

int CEditGridCtrl::CountRows(int filter) const
{
    if (filter & RowAny)
        return rowCount();
    int count = 0;
    for (int r = 0; r < rowCount(); ++r)
        count += Matches(GetRowState(r), filter) ? 1 : 0;
    return count;
}

int CEditGridCtrl::GetRowState(int row) const
{
    if (row < 0 || row >= rowCount())
        return 0;
    const bool selected = selectionModel()->isRowSelected(row, QModelIndex());
    const QTableWidgetItem* first = item(row, 0);
    const bool checked = first && first->checkState() == Qt::Checked;
    const bool focused = currentIndex().isValid() && currentIndex().row() == row;
    return (selected ? RowSelected : RowUnselected) | (checked ? RowChecked : RowUnchecked) |
           (focused ? RowFocused : RowUnfocused);
}

bool CEditGridCtrl::SetRowState(int row, int flags)
{
    if (row < 0 || row >= rowCount())
        return false;
    QItemSelectionModel* selection = selectionModel();
    const QModelIndex first = model()->index(row, 0);
    if (flags & RowSelected)
        selection->select(first, QItemSelectionModel::Select | QItemSelectionModel::Rows);
    if (flags & RowUnselected)
        selection->select(first, QItemSelectionModel::Deselect | QItemSelectionModel::Rows);
    if (columnCount() > 0 && (flags & RowChecked))
        cell(row, 0)->setCheckState(Qt::Checked);
    if (columnCount() > 0 && (flags & RowUnchecked) && item(row, 0)->checkState() == Qt::Checked)
        item(row, 0)->setCheckState(Qt::Unchecked);
    if (flags & RowFocused)
        selection->setCurrentIndex(first, QItemSelectionModel::NoUpdate);
    if ((flags & RowUnfocused) && currentIndex().isValid() && currentIndex().row() == row)
        selection->setCurrentIndex(QModelIndex(), QItemSelectionModel::NoUpdate);
    return true;
}

bool CEditGridCtrl::IsEditing() const
{
    return m_editable && m_editRow >= 0 && m_editRow < rowCount() && m_editColumn >= 0 &&
           m_editColumn < columnCount();
}

bool CEditGridCtrl::StartEdit(int row, int column)
{
    if (!m_editable || row < 0 || row >= rowCount() || column < 0 || column >= columnCount())
        return false;
    if (IsEditing() && m_editRow == row && m_editColumn == column)
        return true;
    EndEdit(true);
    m_editRow = row;
    m_editColumn = column;

    selectionModel()->clearSelection();
    SetRowState(row, RowSelected | RowFocused);

    if (m_editor == nullptr) {
        m_editor = new QLineEdit(viewport());
        m_editor->setObjectName(QStringLiteral("gridEditor"));
        m_editor->hide();
        m_editor->installEventFilter(this);
    }
    const QTableWidgetItem* header = horizontalHeaderItem(column);
    m_editor->setAlignment(CellAlignment(header ? header->data(kFormatRole).toInt() : 0));
    m_editor->setFont(font());

    QTableWidgetItem* target = cell(row, column);
    scrollToItem(target);
    m_editor->setGeometry(visualItemRect(target));
    m_editor->setText(target->text());
    m_editor->show();
    m_editor->selectAll();
    m_editor->setFocus(Qt::OtherFocusReason);
    return true;
}

bool CEditGridCtrl::EndEdit(bool commit)
{
    if (!IsEditing()) {
        if (m_editor != nullptr)
            m_editor->hide();
        m_editRow = m_editColumn = -1;
        return false;
    }
    const int row = m_editRow;
    const int column = m_editColumn;
    // Leave the edit first: what the owner does on the notification may start another.
    m_editRow = m_editColumn = -1;
    const bool hadFocus = m_editor->hasFocus();
    m_editor->hide();
    if (hadFocus)
        setFocus(Qt::OtherFocusReason);
    const QString text = m_editor->text();
    QTableWidgetItem* target = cell(row, column);
    if (!commit || text.toUtf8() == target->text().toUtf8())
        return false;
    target->setText(text);
    forgetSortOrder();
    emit cellEdited(row, column);
    return true;
}

bool CEditGridCtrl::editorKey(QKeyEvent* event)
{
    if (!IsEditing())
        return false;
    const int row = m_editRow;
    const int column = m_editColumn;
    switch (event->key()) {
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
        EndEdit(true);
        StartEdit(row, column + 1 < columnCount() ? column + 1 : 0);
        return true;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        EndEdit(true);
        return true;
    case Qt::Key_Escape:
        EndEdit(false);
        return true;
    case Qt::Key_Up:
        if (row <= 0)
            return false;
        EndEdit(true);
        StartEdit(row - 1, column);
        return true;
    case Qt::Key_Down:
        if (row >= rowCount() - 1)
            return false;
        EndEdit(true);
        StartEdit(row + 1, column);
        return true;
    default:
        return false;
    }
}

bool CEditGridCtrl::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_editor) {
        // The dialog's shortcuts (Esc, the default button) must not see the keys the editor
        // consumes.
        if (event->type() == QEvent::ShortcutOverride) {
            const int key = static_cast<QKeyEvent*>(event)->key();
            if (key == Qt::Key_Escape || key == Qt::Key_Return || key == Qt::Key_Enter) {
                event->accept();
                return true;
            }
        }
        if (event->type() == QEvent::KeyPress && editorKey(static_cast<QKeyEvent*>(event)))
            return true;
    }
    return QTableWidget::eventFilter(watched, event);
}

void CEditGridCtrl::keyPressEvent(QKeyEvent* event)
{
    if (!IsEditing() && event->key() == Qt::Key_Space) {
        event->accept();
        return;
    }
    QTableWidget::keyPressEvent(event);
}

void CEditGridCtrl::clickAndMaybeEdit(QMouseEvent* event, bool doubleClick)
{
    const QModelIndex index = indexAt(event->position().toPoint());
    const bool wasEditing = IsEditing();
    EndEdit(true);
    const int row = index.isValid() ? index.row() : -1;
    const bool selectedAndFocused =
        row >= 0 && (GetRowState(row) & RowSelected) && (GetRowState(row) & RowFocused);
    if (doubleClick)
        QTableWidget::mouseDoubleClickEvent(event);
    else
        QTableWidget::mousePressEvent(event);
    if (m_editable && !wasEditing && selectedAndFocused)
        StartEdit(row, index.column());
}

void CEditGridCtrl::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton) {
        clickAndMaybeEdit(event, false);
        return;
    }
    EndEdit(true);
    QTableWidget::mousePressEvent(event);
}

void CEditGridCtrl::mouseDoubleClickEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton) {
        clickAndMaybeEdit(event, true);
        return;
    }
    EndEdit(true);
    QTableWidget::mouseDoubleClickEvent(event);
}

void CEditGridCtrl::onHeaderClicked(int column)
{
    SortItems(column, !(column == m_sortColumn && m_sortAscending));
}

void CEditGridCtrl::SortItems(int column, bool ascending)
{
    EndEdit(true);
    if (column < 0 || column >= columnCount() || !horizontalHeader()->sectionsClickable())
        return;
    m_sortColumn = column;
    m_sortAscending = ascending;
    const int n = rowCount();
    if (n >= 2) {
        std::vector<std::string> texts;
        texts.reserve(static_cast<std::size_t>(n));
        for (int r = 0; r < n; ++r)
            texts.push_back(GetItemText(r, column).toStdString());
        const std::vector<int> order = GridSortOrder(texts, ascending);

        // Each row moves whole: its items (texts, colours, check mark) and its state.
        std::vector<std::vector<QTableWidgetItem*>> rows(static_cast<std::size_t>(n));
        std::vector<int> states(static_cast<std::size_t>(n));
        for (int r = 0; r < n; ++r) {
            states[static_cast<std::size_t>(r)] = GetRowState(r);
            for (int c = 0; c < columnCount(); ++c)
                rows[static_cast<std::size_t>(r)].push_back(takeItem(r, c));
        }
        selectionModel()->clear();
        for (int r = 0; r < n; ++r) {
            const auto from = static_cast<std::size_t>(order[static_cast<std::size_t>(r)]);
            for (int c = 0; c < columnCount(); ++c)
                setItem(r, c, rows[from][static_cast<std::size_t>(c)]);
        }
        for (int r = 0; r < n; ++r) {
            const int state = states[static_cast<std::size_t>(order[static_cast<std::size_t>(r)])];
            SetRowState(r, state & (RowSelected | RowFocused));
        }
    }
    emit sorted(column, ascending);
}

} // namespace velmora
