#pragma once

#include "account/Account.h"
#include "account/SmsVerification.h"
#include "app/UserRequest.h"

#include <QDialog>

class QCheckBox;
class QLineEdit;
class QPushButton;

namespace velmora {

class CHttpClient;
class COrbaltApp;
class UserPrompts;
struct Session;

// "用户中心": register, log in, change the account's details, log out, and the SMS code that
// registration and changes need. The code lives with the dialog: closing it forgets the code.
// While a request runs the buttons are disabled, so one dialog has one request at a time.
class CUserCenterDlg : public QDialog {
    Q_OBJECT

public:
    // The session must have its HTTP client.
    CUserCenterDlg(Session& session, UserPrompts& prompts, QWidget* parent = nullptr);

    QLineEdit* userNameBox() const { return m_userName; }
    QLineEdit* passwordBox() const { return m_password; }
    QLineEdit* mailBox() const { return m_mail; }
    QLineEdit* mobileBox() const { return m_mobile; }
    QLineEdit* aliasBox() const { return m_alias; }
    QLineEdit* codeBox() const { return m_code; }
    QLineEdit* statusBox() const { return m_status; }
    QPushButton* registerButton() const { return m_register; }
    QPushButton* loginButton() const { return m_login; }
    QPushButton* modifyButton() const { return m_modify; }
    QPushButton* logoutButton() const { return m_logout; }
    QPushButton* sendCodeButton() const { return m_sendCode; }
    // 自动登录: the saved login is used at the next start-up; stored as soon as it changes.
    QCheckBox* autoLoginBox() const { return m_autoLogin; }
    const SmsVerification& verification() const { return m_sms; }
    bool busy() const { return m_busy; }

private:
    void onLogin();
    void onLogout();
    void onRegister();
    void onModify();
    void onSendCode();

    AccountForm typed() const;
    void offerKeptPassword(const AccountForm& shown);
    // A refusal is shown and ends the handler.
    bool refused(const std::optional<std::string>& message);
    void apply(const AccountOutcome& outcome);
    void setDetailsReadOnly(bool readOnly);
    void setBusy(bool busy);
    // Sends one request; `done` runs with its reply unless the dialog closes first.
    void run(const QString& label, UserRequest::Start start, UserRequest::Done done);

    // The session's client, which the dialog's requests go through.
    CHttpClient& client() const;

    Session& m_session;
    UserPrompts& m_prompts;
    SmsVerification m_sms;
    bool m_busy = false;
    QLineEdit* m_userName;
    QLineEdit* m_password;
    QLineEdit* m_mail;
    QLineEdit* m_mobile;
    QLineEdit* m_alias;
    QLineEdit* m_code;
    QLineEdit* m_status;
    QPushButton* m_register;
    QPushButton* m_login;
    QPushButton* m_modify;
    QPushButton* m_logout;
    QPushButton* m_sendCode;
    QCheckBox* m_autoLogin;
};

// Plugs the dialog into the frame's "用户中心" command and the exit's logout into the app.
void InstallUserCenter(COrbaltApp& app, UserPrompts& prompts);

} // namespace velmora
