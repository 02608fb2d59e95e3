#pragma once

#include <QTableWidget>

class QLineEdit;

namespace velmora {

// Row states: the answer of GetRowState and the filters of the row queries. A filter matches a
// row when every flag of it is in the row's state; RowAny matches every row.
enum GridRowState : int {
    RowAny = 1,
    RowSelected = 2,
    RowUnselected = 4,
    RowChecked = 8,
    RowUnchecked = 16,
    RowFocused = 32,
    RowUnfocused = 64,
};

// Column formats of InsertColumn.
enum GridColumnFormat : int { GridLeft = 0, GridRight = 1, GridCenter = 2 };

// The program's table: per-cell text and background colours, in-place editing of one cell at
// a time through a line edit, keys that move the editor between cells, and sorting by a
// clicked column header that tells numbers, dates and text apart. The editor is the grid's
// own: a cell is edited only through StartEdit, a second click on the selected row, or the
// keys while editing; losing the focus leaves an edit open.
class CEditGridCtrl : public QTableWidget {
    Q_OBJECT

public:
    explicit CEditGridCtrl(QWidget* parent = nullptr);
    ~CEditGridCtrl() override;

    // Ends any edit with commit; answers the new column's index or -1.
    int InsertColumn(int index, const QString& heading, int format = GridLeft, int width = 80);
    // Ends any edit with commit and forgets the sort order; answers the row index or -1.
    int InsertItem(int index, const QString& text);
    bool SetItemText(int row, int column, const QString& text);
    QString GetItemText(int row, int column) const;
    // Ends any edit (without commit when `row` is being edited); selects row + 1 first when
    // asked.
    bool DeleteItem(int row, bool selectNext = false);
    // Ends any edit without commit and deletes the matching rows; answers how many.
    int DeleteItems(int filter = RowAny);

    void SetEditable(bool editable);
    bool IsEditable() const { return m_editable; }
    // Clickable headers; switching off forgets the sort order.
    bool SetSortable(bool sortable);

    // Colour 0xRRGGBB, or -1 for the palette's text (background) colour. A valid row and
    // column set one cell, an invalid column the whole row, an invalid row the column in every
    // row, both invalid every cell.
    void SetItemTextColor(int row, int column, int colour, bool redraw = true);
    void SetItemBkColor(int row, int column, int colour, bool redraw = true);
    // -1 when the cell has the palette's colour.
    int GetItemTextColor(int row, int column) const;
    int GetItemBkColor(int row, int column) const;

    int GetColumnCount() const { return columnCount(); }
    int CountRows(int filter = RowAny) const;
    int GetRowState(int row) const;
    bool SetRowState(int row, int flags);

    bool StartEdit(int row, int column);
    // True when a changed text was stored.
    bool EndEdit(bool commit);
    bool IsEditing() const;
    int editRow() const { return m_editRow; }
    int editColumn() const { return m_editColumn; }
    QLineEdit* editor() const { return m_editor; }

    void SortItems(int column, bool ascending);
    int sortColumn() const { return m_sortColumn; }
    bool sortAscending() const { return m_sortAscending; }

signals:
    // After every completed sort.
    void sorted(int column, bool ascending);
    // After an edit stored a changed text.
    void cellEdited(int row, int column);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void forgetSortOrder();
    void onHeaderClicked(int column);
    // Every cell has an item, created with the column's alignment.
    QTableWidgetItem* cell(int row, int column);
    void fillRow(int row);
    void applyColour(int row, int column, int colour, bool text);
    // Colours the cells a row and column name (an invalid one stands for all of them).
    void colourCells(int row, int column, int colour, bool text, bool redraw);
    // Handles the editor's keys; true when the key was consumed.
    bool editorKey(QKeyEvent* event);
    void clickAndMaybeEdit(QMouseEvent* event, bool doubleClick);

    QLineEdit* m_editor = nullptr;
    bool m_editable = false;
    int m_editRow = -1;
    int m_editColumn = -1;
    int m_sortColumn = -1;
    bool m_sortAscending = true;
};

} // namespace velmora
