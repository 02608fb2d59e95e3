#include "app/Dialogs.h"

#include "app/AboutText.h"
#include "app/AppState.h"
#include "market/Catalogue.h"
#include "platform/QtText.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFontMetrics>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>

namespace velmora {

namespace {

// The OK and Cancel buttons of the program's small dialogs.
QDialogButtonBox* ConfirmButtons(QDialog* dialog)
{
    auto* buttons = new QDialogButtonBox(dialog);
    QPushButton* ok = buttons->addButton(QStringLiteral("确认"), QDialogButtonBox::AcceptRole);
    QPushButton* cancel = buttons->addButton(QStringLiteral("取消"), QDialogButtonBox::RejectRole);
    ok->setObjectName(QStringLiteral("okButton"));
    cancel->setObjectName(QStringLiteral("cancelButton"));
    ok->setDefault(true);
    QObject::connect(buttons, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
    return buttons;
}

} // namespace

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent)
{
    setWindowTitle(ToQString(kAboutCaption));
    setObjectName(QStringLiteral("aboutDialog"));

    auto* icon = new QLabel(this);
    icon->setPixmap(windowIcon().pixmap(32, 32));
    auto* product = new QLabel(ToQString(kAboutProduct), this);
    product->setTextFormat(Qt::PlainText);
    m_version = new QLabel(QString::fromStdString(InstalledVersion()), this);
    m_version->setObjectName(QStringLiteral("versionLabel"));
    m_version->setMinimumWidth(160);

    // CR-LF pairs become plain line breaks on screen; the text is otherwise kept as is.
    QString help = ToQString(AboutHelpText());
    help.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    m_help = new QPlainTextEdit(help, this);
    m_help->setObjectName(QStringLiteral("helpText"));
    m_help->setReadOnly(true);
    m_help->setLineWrapMode(QPlainTextEdit::NoWrap);
    m_help->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_help->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // Lines do not wrap and there are no scroll bars: make room for the longest one.
    const QFontMetrics metrics(m_help->font());
    const double tab = m_help->tabStopDistance();
    int widest = 0;
    for (const QString& line : help.split(QLatin1Char('\n'))) {
        const QString text = line.trimmed(); // tabs at the ends only indent
        const qsizetype indent = line.indexOf(text.isEmpty() ? line : text.left(1));
        const int width = metrics.horizontalAdvance(text) + static_cast<int>(tab * double(indent));
        widest = std::max(widest, width);
    }
    m_help->setMinimumSize(widest + 2 * m_help->frameWidth() + 48, 240);

    auto* top = new QHBoxLayout;
    top->addSpacing(60);
    top->addWidget(icon);
    top->addSpacing(12);
    top->addWidget(product);
    top->addWidget(m_version);
    top->addStretch();
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addSpacing(16);
    layout->addWidget(m_help);
}

QString CAboutDlg::versionText() const { return m_version->text(); }

QString CAboutDlg::helpText() const { return m_help->toPlainText(); }

CPasswordDlg::CPasswordDlg(QWidget* parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("输入密码"));
    setObjectName(QStringLiteral("passwordDialog"));
    m_edit = new QLineEdit(this);
    m_edit->setObjectName(QStringLiteral("accessCodeEdit"));
    m_edit->setMinimumWidth(220);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_edit);
    layout->addWidget(ConfirmButtons(this));
}

void CPasswordDlg::accept()
{
    m_typed = m_edit->text().toStdString();
    QDialog::accept();
}

CAnalysisSelectDlg::CAnalysisSelectDlg(const Catalogue& catalogue, QWidget* parent)
    : QDialog(parent)
{
    setWindowTitle(QStringLiteral("指定分析商品"));
    setObjectName(QStringLiteral("analysisDialog"));

    m_commodityBox = new QComboBox(this);
    m_commodityBox->setObjectName(QStringLiteral("commodityBox"));
    for (const CommodityEntry& entry : catalogue)
        m_commodityBox->addItem(QString::fromStdString(entry.code + "-" + entry.name));
    m_periodBox = new QComboBox(this);
    m_periodBox->setObjectName(QStringLiteral("periodBox"));
    for (Period p = 0; p < kPeriodCount; ++p)
        m_periodBox->addItem(ToQString(PeriodName(p)));
    // No initial choice: the user picks both.
    m_commodityBox->setCurrentIndex(-1);
    m_periodBox->setCurrentIndex(-1);
    connect(m_commodityBox, &QComboBox::currentIndexChanged, this,
            [this](int index) { m_commodity = index; });
    connect(m_periodBox, &QComboBox::currentIndexChanged, this,
            [this](int index) { m_period = index; });

    auto* grid = new QGridLayout;
    grid->addWidget(new QLabel(QStringLiteral("商品代码"), this), 0, 0);
    grid->addWidget(m_commodityBox, 0, 1);
    grid->addWidget(new QLabel(QStringLiteral("数据类型"), this), 1, 0);
    grid->addWidget(m_periodBox, 1, 1);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addWidget(ConfirmButtons(this));
}

} // namespace velmora
