#pragma once

#include <QDialog>

class QLabel;

namespace velmora {

// The updater's one window: "正在升级，请稍候..." and the version being installed. Its About
// box is reached from the context menu or the small button.
class UpdaterDlg : public QDialog {
    Q_OBJECT

public:
    explicit UpdaterDlg(const QString& version, QWidget* parent = nullptr);

    // "关于 update": the icon, "update 1.0 版" and "确定".
    void showAbout();

protected:
    void contextMenuEvent(QContextMenuEvent* event) override;
    // The work ends the program; the user cannot close the window halfway.
    void reject() override {}

private:
    QLabel* m_line;
};

} // namespace velmora
