#include "updater/UpdaterDlg.h"

#include <QContextMenuEvent>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

namespace velmora {

UpdaterDlg::UpdaterDlg(const QString& version, QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("updaterDlg"));
    setWindowTitle(QStringLiteral("正在升级，请稍候..."));
    setWindowIcon(QIcon(QStringLiteral(":/updater/velmora.svg")));
    auto* layout = new QVBoxLayout(this);
    auto* row = new QHBoxLayout;
    auto* icon = new QLabel(this);
    icon->setPixmap(windowIcon().pixmap(32, 32));
    row->addWidget(icon);
    m_line = new QLabel(QStringLiteral("新版本："), this);
    m_line->setObjectName(QStringLiteral("versionLine"));
    m_line->setText(QStringLiteral("正在更新版本:") + version);
    row->addWidget(m_line, 1);
    layout->addLayout(row);
    auto* about = new QPushButton(QStringLiteral("关于"), this);
    about->setObjectName(QStringLiteral("aboutButton"));
    about->setAutoDefault(false);
    connect(about, &QPushButton::clicked, this, &UpdaterDlg::showAbout);
    layout->addWidget(about, 0, Qt::AlignRight);
    setMinimumWidth(320);
}

void UpdaterDlg::contextMenuEvent(QContextMenuEvent* event)
{
    QMenu menu(this);
    menu.addSeparator();
    menu.addAction(QStringLiteral("关于 update(&A)..."), this, &UpdaterDlg::showAbout);
    menu.exec(event->globalPos());
}

void UpdaterDlg::showAbout()
{
    QMessageBox box(this);
    box.setObjectName(QStringLiteral("aboutBox"));
    box.setWindowTitle(QStringLiteral("关于 update"));
    box.setIconPixmap(windowIcon().pixmap(32, 32));
    box.setText(QStringLiteral("update 1.0 版"));
    box.addButton(QStringLiteral("确定"), QMessageBox::AcceptRole);
    box.exec();
}

} // namespace velmora
