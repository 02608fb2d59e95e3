#include "app/UserCenterDlg.h"

#include "app/MainFrame.h"
#include "app/OrbaltApp.h"
#include "app/QrCode.h"
#include "app/UserPrompts.h"
#include "app/Workspace.h"
#include "platform/QtText.h"
#include "session/Session.h"

#include <QCheckBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QPointer>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QVBoxLayout>
#include <chrono>
#include <future>
#include <memory>

namespace velmora {

namespace {

constexpr std::chrono::milliseconds kExitLogoutGrace{2000};

std::string U(const QLineEdit* box) { return box->text().toStdString(); }

// The code to scan leads to the maker's website.
QPixmap FollowUsPicture(const Endpoints& endpoints)
{
    const std::string site = WebsiteUrl(endpoints, "/");
    return QPixmap::fromImage(QrCodeImage(site, 3));
}

} // namespace

CUserCenterDlg::CUserCenterDlg(Session& session, UserPrompts& prompts, QWidget* parent)
    : QDialog(parent), m_session(session), m_prompts(prompts), m_userName(new QLineEdit),
      m_password(new QLineEdit), m_mail(new QLineEdit), m_mobile(new QLineEdit),
      m_alias(new QLineEdit), m_code(new QLineEdit), m_status(new QLineEdit),
      m_register(new QPushButton(QStringLiteral("注册"))),
      m_login(new QPushButton(QStringLiteral("登陆"))),
      m_modify(new QPushButton(QStringLiteral("更新"))),
      m_logout(new QPushButton(QStringLiteral("注销"))),
      m_sendCode(new QPushButton(QStringLiteral("获取验证码"))),
      m_autoLogin(new QCheckBox(QStringLiteral("自动登录")))
{
    setWindowTitle(QStringLiteral("用户中心"));
    m_password->setEchoMode(QLineEdit::Password);
    const QRegularExpression digits(QStringLiteral("[0-9]*"));
    m_mobile->setValidator(new QRegularExpressionValidator(digits, m_mobile));
    m_code->setValidator(new QRegularExpressionValidator(digits, m_code));
    m_status->setReadOnly(true);
    m_status->setMinimumHeight(60);

    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("用户名称"), m_userName);
    form->addRow(QStringLiteral("用户密码"), m_password);
    form->addRow(QStringLiteral("邮    箱"), m_mail);
    form->addRow(QStringLiteral("手    机"), m_mobile);
    form->addRow(QStringLiteral("用户昵称"), m_alias);
    auto* codeRow = new QHBoxLayout;
    codeRow->addWidget(m_code);
    codeRow->addWidget(m_sendCode);
    form->addRow(QStringLiteral("手机验证码"), codeRow);
    auto* buttons = new QHBoxLayout;
    for (QPushButton* button : {m_register, m_login, m_modify, m_logout})
        buttons->addWidget(button);
    // The dialog has no default button: Enter in a box must not send a request.
    for (QPushButton* button : {m_register, m_login, m_modify, m_logout, m_sendCode})
        button->setAutoDefault(false);
    auto* groupLayout = new QVBoxLayout;
    groupLayout->addLayout(form);
    groupLayout->addLayout(buttons);
    groupLayout->addWidget(m_autoLogin);
    groupLayout->addWidget(m_status);
    auto* group = new QGroupBox(QStringLiteral("我的信息"));
    group->setLayout(groupLayout);

    auto* picture = new QLabel;
    picture->setPixmap(FollowUsPicture(client().endpoints()));
    auto* caption = new QLabel(QStringLiteral("扫码关注公众号\n\n投资理财更轻松"));
    caption->setAlignment(Qt::AlignCenter);
    auto* side = new QVBoxLayout;
    side->addWidget(picture, 0, Qt::AlignCenter);
    side->addWidget(caption);
    side->addStretch();

    auto* layout = new QHBoxLayout(this);
    layout->addWidget(group, 1);
    layout->addLayout(side);

    connect(m_login, &QPushButton::clicked, this, &CUserCenterDlg::onLogin);
    connect(m_logout, &QPushButton::clicked, this, &CUserCenterDlg::onLogout);
    connect(m_register, &QPushButton::clicked, this, &CUserCenterDlg::onRegister);
    connect(m_modify, &QPushButton::clicked, this, &CUserCenterDlg::onModify);
    connect(m_sendCode, &QPushButton::clicked, this, &CUserCenterDlg::onSendCode);

    UserInfo& CurrentUser = m_session.CurrentUser;
    const AccountForm shown = OpeningForm(CurrentUser);
    m_userName->setText(ToQString(shown.userName));
    m_password->setText(ToQString(shown.password));
    m_mail->setText(ToQString(shown.mail));
    m_alias->setText(ToQString(shown.alias));
    m_mobile->setText(ToQString(shown.telphone));
    if (!CurrentUser.loggedIn)
        offerKeptPassword(shown);
    m_autoLogin->setChecked(AutoLoginEnabled());
    connect(m_autoLogin, &QCheckBox::toggled, this, [](bool on) { SetAutoLogin(on); });
    if (!CurrentUser.loggedIn && !m_session.autoLoginStatus.empty())
        m_status->setText(ToQString("自动登录失败：" + m_session.autoLoginStatus));
}

CHttpClient& CUserCenterDlg::client() const { return *m_session.g_pHttpClient; }

// The keyring answers later; its password fills the box unless the user has typed meanwhile.
void CUserCenterDlg::offerKeptPassword(const AccountForm& shown)
{
    ReadSavedPassword(
        m_session.vault, shown.userName,
        [dialog = QPointer<CUserCenterDlg>(this), shown](std::optional<std::string> kept) {
            if (!dialog || !kept)
                return;
            UserInfo& CurrentUser = dialog->m_session.CurrentUser;
            if (CurrentUser.loggedIn || U(dialog->m_userName) != shown.userName ||
                U(dialog->m_password) != shown.password)
                return;
            CurrentUser.password = *kept;
            dialog->m_password->setText(ToQString(*kept));
        });
}

AccountForm CUserCenterDlg::typed() const
{
    return {U(m_userName), U(m_password), U(m_mail), U(m_mobile), U(m_alias), U(m_code)};
}

bool CUserCenterDlg::refused(const std::optional<std::string>& message)
{
    if (message)
        m_prompts.showMessage(*message);
    return message.has_value();
}

void CUserCenterDlg::apply(const AccountOutcome& outcome)
{
    if (outcome.showDetails) {
        const UserInfo& CurrentUser = m_session.CurrentUser;
        m_mail->setText(ToQString(CurrentUser.mail));
        m_alias->setText(ToQString(CurrentUser.alias));
        m_mobile->setText(ToQString(CurrentUser.telphone));
    }
    if (outcome.detailsReadOnly)
        setDetailsReadOnly(*outcome.detailsReadOnly);
    if (outcome.status)
        m_status->setText(ToQString(*outcome.status));
    if (outcome.clearCode)
        m_code->clear();
    // Last: the box waits for the user, who then sees the dialog as it now is.
    if (!outcome.message.empty())
        m_prompts.showMessage(outcome.message);
}

void CUserCenterDlg::setDetailsReadOnly(bool readOnly)
{
    for (QLineEdit* box : {m_userName, m_password, m_mail, m_alias, m_mobile})
        box->setReadOnly(readOnly);
}

void CUserCenterDlg::setBusy(bool busy)
{
    m_busy = busy;
    for (QPushButton* button : {m_register, m_login, m_modify, m_logout, m_sendCode})
        button->setEnabled(!busy);
}

void CUserCenterDlg::run(const QString& label, UserRequest::Start start, UserRequest::Done done)
{
    setBusy(true);
    UserRequest::run(client(), this, label, start,
                     [this, done = std::move(done)](HttpReply&& reply) {
                         setBusy(false);
                         done(std::move(reply));
                     });
}

void CUserCenterDlg::onLogin()
{
    const AccountForm form = typed();
    if (refused(CheckLogin(form)))
        return;
    run(
        QStringLiteral("正在登陆…"),
        [this, body = AccountFormBody(AccountRequestKind::Login, form)](ReplyHandler handler) {
            return client().startAccount(AccountRequestKind::Login, body, std::move(handler));
        },
        [this, form](HttpReply&& reply) {
            apply(LoginReply(reply, form, m_session.CurrentUser, m_session.vault));
        });
}

void CUserCenterDlg::onLogout()
{
    const AccountForm form = typed();
    if (refused(CheckLogout(form)))
        return;
    run(
        QStringLiteral("正在注销…"),
        [this, body = AccountFormBody(AccountRequestKind::Logout, form)](ReplyHandler handler) {
            return client().startAccount(AccountRequestKind::Logout, body, std::move(handler));
        },
        [this](HttpReply&& reply) { apply(LogoutReply(reply, m_session.CurrentUser)); });
}

void CUserCenterDlg::onRegister()
{
    const AccountForm form = typed();
    if (refused(CheckDetails(AccountRequestKind::Register, form, m_sms.code())) ||
        refused(m_sms.refusal(form.code, form.telphone)))
        return;
    m_sms.spend();
    run(
        QStringLiteral("正在注册…"),
        [this, body = AccountFormBody(AccountRequestKind::Register, form)](ReplyHandler handler) {
            return client().startAccount(AccountRequestKind::Register, body, std::move(handler));
        },
        [this, form](HttpReply&& reply) {
            const AccountOutcome outcome = RegisterReply(reply, form, m_session.CurrentUser);
            apply(outcome);
            if (!outcome.notifyStaff)
                return;
            run(
                QStringLiteral("正在通知工作人员…"),
                [this, url = StaffNotificationUrl(client().endpoints(), form.userName)](
                    ReplyHandler handler) { return client().startSms(url, std::move(handler)); },
                [this](HttpReply&& staff) {
                    m_prompts.showMessage(RegisteredMessage(SmsSent(staff)));
                });
        });
}

void CUserCenterDlg::onModify()
{
    const AccountForm form = typed();
    if (refused(CheckDetails(AccountRequestKind::Modify, form, m_sms.code())) ||
        refused(m_sms.refusal(form.code, form.telphone)))
        return;
    m_sms.spend();
    run(
        QStringLiteral("正在更新…"),
        [this, body = AccountFormBody(AccountRequestKind::Modify, form)](ReplyHandler handler) {
            return client().startAccount(AccountRequestKind::Modify, body, std::move(handler));
        },
        [this](HttpReply&& reply) { apply(ModifyReply(reply)); });
}

void CUserCenterDlg::onSendCode()
{
    const SmsVerification::Request request = m_sms.begin(client().endpoints(), U(m_mobile));
    if (!request.message.empty()) {
        m_prompts.showMessage(request.message);
        return;
    }
    run(
        QStringLiteral("正在发送验证码…"),
        [this, url = request.url](ReplyHandler handler) {
            return client().startSms(url, std::move(handler));
        },
        [this](HttpReply&& reply) { apply(SmsVerification::result(reply)); });
}

void InstallUserCenter(COrbaltApp& app, UserPrompts& prompts)
{
    app.hooks().userCenter = [&app, &prompts] {
        CUserCenterDlg dialog(app.session(), prompts, app.mainFrame());
        dialog.exec();
    };
    // The program ends right after, and ending aborts what is still in flight: give the
    // logout a moment to reach the server, but never hold the exit up for a slow one.
    app.hooks().logout = [&app] {
        const Session& session = app.session();
        if (!session.g_pHttpClient)
            return;
        auto sent = std::make_shared<std::promise<void>>();
        std::future<void> done = sent->get_future();
        session.g_pHttpClient->startAccount(AccountRequestKind::Logout,
                                            ExitLogoutBody(session.CurrentUser),
                                            [sent](HttpReply&&) { sent->set_value(); });
        done.wait_for(kExitLogoutGrace);
    };
}

} // namespace velmora
