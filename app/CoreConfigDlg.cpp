#include "app/CoreConfigDlg.h"

#include "analysis/AnalysisParams.h"
#include "analysis/CoreConfig.h"
#include "app/EditGridCtrl.h"
#include "app/MainFrame.h"
#include "app/OrbaltApp.h"
#include "app/UserPrompts.h"
#include "market/Catalogue.h"
#include "platform/QtText.h"
#include "session/Session.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace velmora {

namespace {

constexpr int kGridBackground = 0xcee3e3; // RGB(206, 227, 227)
constexpr int kGridText = 0x000000;

struct Group {
    const char* title;
    std::array<const char*, 4> labels;
};

const Group kGroups[4] = {
    {"TPO周期参数", {"半小时线:", "日线:", "周线:", "月线:"}},
    {"长周期参数", {"半均线:", "日均线:", "周均线:", "月均线:"}},
    {"短周期参数", {"半均线:", "日均线:", "周均线:", "月均线:"}},
    {"历史数据参数", {"半小时线:", "日线:", "周线:", "月线:"}},
};

} // namespace

CCoreConfigDlg::CCoreConfigDlg(Session& session, UserPrompts& prompts, QWidget* parent)
    : QDialog(parent), m_session(session), m_prompts(prompts)
{
    setWindowTitle(QStringLiteral("系统核心配置"));
    setObjectName(QStringLiteral("coreConfigDialog"));

    const CoreParamTexts texts = CoreParamTextsOf(m_session.analysisParams);
    auto* groups = new QHBoxLayout;
    for (int g = 0; g < 4; ++g) {
        auto* box = new QGroupBox(QString::fromUtf8(kGroups[g].title), this);
        auto* form = new QGridLayout(box);
        for (int p = 0; p < kPeriodCount; ++p) {
            const int k = g * 4 + p;
            auto* edit = new QLineEdit(ToQString(texts[static_cast<std::size_t>(k)]), box);
            edit->setObjectName(QStringLiteral("edit%1").arg(1019 + k));
            form->addWidget(new QLabel(QString::fromUtf8(kGroups[g].labels[p]), box), p, 0);
            form->addWidget(edit, p, 1);
            m_edits.push_back(edit);
        }
        groups->addWidget(box);
    }

    m_grid = new CEditGridCtrl(this);
    m_grid->setObjectName(QStringLiteral("yunitGrid"));
    QFont song(QStringLiteral("宋体"));
    song.setPointSize(10);
    song.setWeight(QFont::Normal);
    m_grid->setFont(song);
    m_grid->setShowGrid(true);
    const char* headings[6] = {"商品代码", "商品名称", "半小时线", "日线", "周线", "月线"};
    const int widths[6] = {100, 100, 80, 80, 80, 80};
    for (int c = 0; c < 6; ++c)
        m_grid->InsertColumn(c, QString::fromUtf8(headings[c]), GridCenter, widths[c]);
    for (int i = 0; i < kCommodityCount; ++i) {
        const CommodityEntry& entry = m_session.catalogue[static_cast<std::size_t>(i)];
        m_grid->InsertItem(i, ToQString(entry.code));
        m_grid->SetItemText(i, 1, ToQString(entry.name));
        for (Period p = 0; p < kPeriodCount; ++p)
            m_grid->SetItemText(i, 2 + p, ToQString(entry.yunit[static_cast<std::size_t>(p)]));
    }
    m_grid->SetItemTextColor(-1, -1, kGridText, false);
    m_grid->SetItemBkColor(-1, -1, kGridBackground, false);
    m_grid->SetEditable(true);
    int gridWidth = 2 * m_grid->frameWidth();
    for (int w : widths)
        gridWidth += w;
    m_grid->setMinimumSize(gridWidth + 20, 13 * m_grid->verticalHeader()->defaultSectionSize() +
                                               m_grid->horizontalHeader()->sizeHint().height() +
                                               2 * m_grid->frameWidth());

    m_ok = new QPushButton(QStringLiteral("确认"), this);
    m_ok->setObjectName(QStringLiteral("okButton"));
    m_ok->setDefault(true);
    m_cancel = new QPushButton(QStringLiteral("取消"), this);
    m_cancel->setObjectName(QStringLiteral("cancelButton"));
    connect(m_ok, &QPushButton::clicked, this, &CCoreConfigDlg::accept);
    connect(m_cancel, &QPushButton::clicked, this, &CCoreConfigDlg::reject);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_ok);
    buttons->addWidget(m_cancel);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(groups);
    layout->addWidget(m_grid);
    layout->addLayout(buttons);
}

void CCoreConfigDlg::accept()
{
    // A cell still being edited counts as typed: the user pressed OK after typing it.
    m_grid->EndEdit(true);
    CoreParamTexts texts;
    for (std::size_t k = 0; k < texts.size(); ++k)
        texts[k] = m_edits[k]->text().toStdString();
    if (!StoreCoreParams(m_session.analysisParams, texts)) {
        m_prompts.showMessage(HistoryLimitMessage());
        return;
    }
    for (int i = 0; i < kCommodityCount && i < m_grid->rowCount(); ++i) {
        for (Period p = 0; p < kPeriodCount; ++p)
            m_session.catalogue[static_cast<std::size_t>(i)].yunit[static_cast<std::size_t>(p)] =
                m_grid->GetItemText(i, 2 + p).toStdString();
    }
    QDialog::accept();
}

void InstallCoreConfiguration(COrbaltApp& app, UserPrompts& prompts)
{
    app.hooks().configuration = [&app, &prompts] {
        CCoreConfigDlg dialog(app.session(), prompts, app.mainFrame());
        dialog.exec();
    };
}

} // namespace velmora
