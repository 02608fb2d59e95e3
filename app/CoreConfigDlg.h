#pragma once

#include <QDialog>
#include <vector>

class QLineEdit;
class QPushButton;

namespace velmora {

class CEditGridCtrl;
class COrbaltApp;
class UserPrompts;
struct Session;

// "系统核心配置": the analysis parameters of the four periods and the catalogue's YUnit texts,
// editable in place in a grid. OK stores the parameters at once; a history count above the
// limit takes the fallback counts, says so and keeps the dialog open. Otherwise OK copies the
// YUnit texts into the catalogue and closes.
class CCoreConfigDlg : public QDialog {
    Q_OBJECT

public:
    CCoreConfigDlg(Session& session, UserPrompts& prompts, QWidget* parent = nullptr);

    // Edits 1019 to 1034 in id order.
    QLineEdit* paramEdit(int index) const { return m_edits[static_cast<std::size_t>(index)]; }
    CEditGridCtrl* grid() const { return m_grid; }
    QPushButton* okButton() const { return m_ok; }
    QPushButton* cancelButton() const { return m_cancel; }

    void accept() override;

private:
    Session& m_session;
    UserPrompts& m_prompts;
    std::vector<QLineEdit*> m_edits;
    CEditGridCtrl* m_grid;
    QPushButton* m_ok;
    QPushButton* m_cancel;
};

// Installs the configuration command's hook (behind the access-code prompt).
void InstallCoreConfiguration(COrbaltApp& app, UserPrompts& prompts);

} // namespace velmora
