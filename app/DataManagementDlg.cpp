#include "app/DataManagementDlg.h"

#include "analysis/AnalysisParams.h"
#include "app/EditGridCtrl.h"
#include "app/MainFrame.h"
#include "app/OrbaltApp.h"
#include "app/StoredHistory.h"
#include "app/UserPrompts.h"
#include "market/BarList.h"
#include "market/BarStore.h"
#include "market/Catalogue.h"
#include "market/Mt4Import.h"
#include "platform/QtText.h"
#include "platform/RegistryKey.h"
#include "session/Session.h"

#include <QFileDialog>
#include <QFontMetrics>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <cmath>
#include <ctime>

namespace velmora {

namespace {

constexpr int kListBackground = 0xcee3e3; // RGB(206, 227, 227)
constexpr int kListText = 0x000000;
// The bar slot a row shows, kept in the row so that it moves with the row in a sort.
constexpr int kSlotRole = Qt::UserRole;
// The commodity or period index of a tree item.
constexpr int kIndexRole = Qt::UserRole;
const int kColumnWidths[kBarListColumns] = {50, 150, 80, 80, 80, 80, 80};
constexpr std::string_view kClearQuestion =
    "确定要清空全部商品的数据吗？内存和本地数据库中的K线都将被删除。";

// Places widgets by the template's dialog units, scaled by the dialog font the way the
// dialog manager does: a quarter of the average character width across, an eighth of the
// line height down.
class DialogUnits {
public:
    explicit DialogUnits(const QFont& font)
    {
        const QFontMetrics metrics(font);
        const QString letters =
            QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
        m_x = metrics.horizontalAdvance(letters) / 52.0;
        m_y = metrics.height();
    }
    QRect rect(int x, int y, int width, int height) const
    {
        const int left = across(x);
        const int top = down(y);
        return {left, top, across(x + width) - left, down(y + height) - top};
    }
    int across(int units) const { return static_cast<int>(std::lround(units * m_x / 4)); }
    int down(int units) const { return static_cast<int>(std::lround(units * m_y / 8)); }

private:
    double m_x;
    double m_y;
};

std::string Text(const QLineEdit* box) { return box->text().toStdString(); }

} // namespace

DataManagementDialog::DataManagementDialog(Session& session, UserPrompts& prompts,
                                           std::function<void()> serverSync, QWidget* parent)
    : QDialog(parent), m_session(session), m_prompts(prompts), m_serverSync(std::move(serverSync))
{
    setWindowTitle(QStringLiteral("数据管理"));
    setObjectName(QStringLiteral("dataManagementDialog"));
    pickFolder = [](QWidget* owner, const QString& title, const QString& start) {
        return QFileDialog::getExistingDirectory(owner, title, start);
    };
    const DialogUnits units(font());
    const auto place = [&](QWidget* widget, int x, int y, int w, int h) {
        widget->setGeometry(units.rect(x, y, w, h));
    };
    // No button is the default: Enter in a box must not start a synchronisation.
    const auto button = [&](const char* caption, const char* name, int x, int y, int w, int h) {
        auto* b = new QPushButton(QString::fromUtf8(caption), this);
        b->setObjectName(QString::fromUtf8(name));
        b->setAutoDefault(false);
        place(b, x, y, w, h);
        return b;
    };

    m_tree = new QTreeWidget(this);
    m_tree->setObjectName(QStringLiteral("commodityTree"));
    m_tree->setHeaderHidden(true);
    m_tree->setRootIsDecorated(true);
    m_tree->setExpandsOnDoubleClick(true);
    place(m_tree, 7, 22, 107, 311);
    m_tree->setUpdatesEnabled(false);
    auto* root = new QTreeWidgetItem(m_tree, QStringList(QStringLiteral("全部商品")));
    QFont bold = root->font(0);
    bold.setBold(true);
    root->setFont(0, bold);
    // Each commodity and period item carries its index, which a double click reads back.
    for (int index = 0; index < kCommodityCount; ++index) {
        const CommodityEntry& entry = m_session.catalogue[index];
        auto* commodity =
            new QTreeWidgetItem(root, QStringList(ToQString(entry.code + " " + entry.name)));
        commodity->setData(0, kIndexRole, index);
        for (Period p = 0; p < kPeriodCount; ++p) {
            auto* period = new QTreeWidgetItem(commodity, QStringList(ToQString(PeriodName(p))));
            period->setData(0, kIndexRole, p);
        }
    }
    root->setExpanded(true);
    m_tree->setUpdatesEnabled(true);

    m_list = new CEditGridCtrl(this);
    m_list->setObjectName(QStringLiteral("barList"));
    place(m_list, 121, 22, 439, 311);
    QFont song(QStringLiteral("宋体"));
    song.setPointSize(10);
    song.setWeight(QFont::Normal);
    m_list->setFont(song);
    m_list->setShowGrid(true);
    for (int c = 0; c < kBarListColumns; ++c)
        m_list->InsertColumn(c, ToQString(kBarListHeadings[static_cast<std::size_t>(c)]),
                             GridCenter, kColumnWidths[c]);
    m_list->SetSortable(true);
    m_list->SetEditable(false);
    m_list->verticalHeader()->setDefaultSectionSize(QFontMetrics(song).height() + 4);

    m_seriesLabel = new QLabel(QStringLiteral("交易商品："), this);
    m_seriesLabel->setObjectName(QStringLiteral("seriesLabel"));
    place(m_seriesLabel, 16, 9, 94, 8);
    m_countLabel = new QLabel(QStringLiteral("数据库：   条记录"), this);
    m_countLabel->setObjectName(QStringLiteral("countLabel"));
    place(m_countLabel, 123, 10, 437, 12);
    for (QLabel* label : {m_seriesLabel, m_countLabel})
        label->setTextFormat(Qt::PlainText);

    m_sync = button("全部商品数据同步", "syncButton", 7, 336, 106, 21);
    m_clear = button("清空数据", "clearButton", 7, 363, 104, 21);
    const int boxes[6][2] = {{121, 83}, {217, 46}, {276, 46}, {335, 46}, {394, 46}, {453, 46}};
    for (int k = 0; k < 6; ++k) {
        auto* box = new QLineEdit(this);
        box->setObjectName(QStringLiteral("barBox%1").arg(1004 + k));
        place(box, boxes[k][0], 338, boxes[k][1], 19);
        m_barBoxes.push_back(box);
    }
    m_update = button("更新记录", "updateButton", 506, 336, 54, 21);
    auto* folderLabel = new QLabel(QStringLiteral("MT4数据目录"), this);
    place(folderLabel, 123, 369, 45, 8);
    folderLabel->adjustSize();
    m_folderBox = new QLineEdit(this);
    m_folderBox->setObjectName(QStringLiteral("folderBox"));
    place(m_folderBox, 172, 364, 327, 19);
    m_browse = button("浏   览", "browseButton", 506, 364, 54, 21);
    setFixedSize(units.across(567), units.down(391));

    // The folder: the one saved in the settings, else the one used in this run.
    std::string folder;
    CRegistryKey key(RegistryRoot::LocalMachine);
    if (!key.Open(kRegistry.subKey) || !key.ReadString(kRegistry.mt4Dir, folder) || folder.empty())
        folder = m_session.mt4Directory;
    m_folderBox->setText(ToQString(folder));

    connect(m_tree, &QTreeWidget::itemDoubleClicked, this,
            [this](QTreeWidgetItem* item) { onTreeDoubleClicked(item); });
    // A mouse click only: moving the selection with the keys leaves the boxes alone.
    connect(m_list, &QAbstractItemView::clicked, this, [this] { onListClicked(); });
    connect(m_update, &QPushButton::clicked, this, [this] { onUpdateRecord(); });
    connect(m_sync, &QPushButton::clicked, this, [this] { onSyncAll(); });
    connect(m_browse, &QPushButton::clicked, this, [this] { onBrowse(); });
    connect(m_clear, &QPushButton::clicked, this, [this] { onClear(); });
}

void DataManagementDialog::onTreeDoubleClicked(QTreeWidgetItem* item)
{
    // Only a period item, under a commodity item, shows bars.
    if (item == nullptr || item->parent() == nullptr || item->parent()->parent() == nullptr)
        return;
    const int commodity = item->parent()->data(0, kIndexRole).toInt();
    const Period period = item->data(0, kIndexRole).toInt();
    if (!IsValidCommodity(commodity) || !IsValidPeriod(period))
        return;
    m_seriesLabel->setText(item->parent()->text(0) + QLatin1Char(' ') + item->text(0));
    m_commodity = commodity;
    m_period = period;
    fillList(commodity, period);
}

void DataManagementDialog::fillList(int commodity, int period)
{
    if (!IsValidCommodity(commodity) || !IsValidPeriod(period))
        return;
    m_series = &m_session.barStore.Series(commodity, period);
    const BarList list = FillBarList(*m_series);
    const std::string note =
        StoredDataNote(m_series->storedAt, static_cast<std::int64_t>(std::time(nullptr)));
    m_countLabel->setText(ToQString(note.empty() ? list.label : list.label + "  " + note));
    m_list->DeleteItems(RowAny);
    m_rowMap = list.rowMap;
    m_list->setUpdatesEnabled(false);
    for (std::size_t r = 0; r < list.rows.size(); ++r) {
        const int row = m_list->InsertItem(static_cast<int>(r), ToQString(list.rows[r][0]));
        for (int c = 1; c < kBarListColumns; ++c)
            m_list->SetItemText(row, c, ToQString(list.rows[r][static_cast<std::size_t>(c)]));
        m_list->item(row, 0)->setData(kSlotRole, list.rowMap[r]);
        m_list->SetItemTextColor(row, -1, kListText, false);
        m_list->SetItemBkColor(row, -1, kListBackground, false);
    }
    m_list->setUpdatesEnabled(true);
}

void DataManagementDialog::onListClicked()
{
    m_selectedRow = m_list->currentRow();
    if (m_selectedRow < 0)
        return;
    m_selectedSlot = m_list->item(m_selectedRow, 0)->data(kSlotRole).toInt();
    for (int k = 0; k < 6; ++k)
        m_barBoxes[static_cast<std::size_t>(k)]->setText(m_list->GetItemText(m_selectedRow, k + 1));
}

void DataManagementDialog::onUpdateRecord()
{
    // The bar of the clicked row, wherever a sort had moved that row to.
    if (m_series == nullptr || m_selectedRow < 0 || m_selectedSlot < 0 ||
        m_selectedSlot >= kMaxBars)
        return;
    BarRecord& bar = m_series->bars[static_cast<std::size_t>(m_selectedSlot)];
    ApplyBarEdit(bar, Text(m_barBoxes[0]), Text(m_barBoxes[1]), Text(m_barBoxes[2]),
                 Text(m_barBoxes[3]), Text(m_barBoxes[4]), Text(m_barBoxes[5]));
    m_session.barStore.notifyChanged(m_commodity, m_period, SeriesChange::Edited);
    fillList(m_commodity, m_period);
}

void DataManagementDialog::onClear()
{
    if (!m_prompts.askYesNo(kClearQuestion, true))
        return;
    m_session.barStore.ResetBarStore();
    m_session.barStore.notifyChanged(-1, -1, SeriesChange::Cleared);
    if (m_series != nullptr)
        fillList(m_commodity, m_period);
}

void DataManagementDialog::onSyncAll()
{
    const QString folder = m_folderBox->text();
    if (folder.isEmpty()) {
        if (m_serverSync)
            m_serverSync();
        return;
    }
    std::string& mt4Directory = m_session.mt4Directory;
    mt4Directory = folder.toStdString();
    rememberFolder(folder);
    ImportAllFromMt4(m_session.catalogue, m_session.barStore, mt4Directory,
                     m_session.analysisParams.historyCount, m_prompts);
}

void DataManagementDialog::onBrowse()
{
    const QString folder = pickFolder(this, QStringLiteral("选择MT4数据目录"),
                                      QString::fromStdString(InitialMt4PickerFolder()));
    if (folder.isEmpty())
        return;
    m_folderBox->setText(folder);
    m_session.mt4Directory = folder.toStdString();
    rememberFolder(folder);
}

void DataManagementDialog::rememberFolder(const QString& folder)
{
    CRegistryKey key(RegistryRoot::LocalMachine);
    if (key.Open(kRegistry.subKey))
        key.WriteString(kRegistry.mt4Dir, folder.toStdString());
}

void InstallDataManagement(COrbaltApp& app, UserPrompts& prompts)
{
    app.hooks().dataManagement = [&app, &prompts] {
        DataManagementDialog dialog(app.session(), prompts, app.hooks().syncAll, app.mainFrame());
        dialog.exec();
    };
}

} // namespace velmora
