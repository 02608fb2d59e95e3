#include "app/OrbaltApp.h"
#include "app/QrCode.h"
#include "app/UserCenterDlg.h"
#include "app/UserPrompts.h"
#include "session/Session.h"
#include "tests/net/support/RawHttpServer.h"
#include "tests/support/ScriptedPrompts.h"
#include "tests/support/TestSupport.h"

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

namespace velmora {
namespace {

namespace fs = std::filesystem;
using test::RawHttpServer;

using test::RequestBody;
using test::RequestLine;

// A dialog whose client talks to a canned server on loopback, from a fresh directory.
class UserCenterTest : public ::testing::Test {
protected:
    UserCenterTest() : m_previousDir(fs::current_path())
    {
        fs::current_path(m_dir.path());
        Endpoints endpoints;
        endpoints.website.port = m_server.port();
        endpoints.smsGateway.port = m_server.port();
        connect(endpoints);
    }
    ~UserCenterTest() override { fs::current_path(m_previousDir); }

    void connect(const Endpoints& endpoints)
    {
        m_session.g_pHttpClient.reset();
        m_session.g_pHttpClient =
            std::make_unique<CHttpClient>(endpoints, velmora::test::CookieFolder());
    }

    void answer(std::string_view body) { m_server.setResponse(RawHttpServer::Response(200, body)); }
    // Clicks and waits for the request it started; the buttons are off meanwhile.
    void press(CUserCenterDlg& dialog, QPushButton* button)
    {
        QTest::mouseClick(button, Qt::LeftButton);
        if (dialog.busy()) {
            EXPECT_FALSE(dialog.loginButton()->isEnabled());
        }
        ASSERT_TRUE(QTest::qWaitFor([&] { return !dialog.busy(); }, 20000));
        EXPECT_TRUE(dialog.loginButton()->isEnabled());
    }

    test::TempDir m_dir;
    fs::path m_previousDir;
    RawHttpServer m_server;
    Session m_session;
    UserInfo& CurrentUser = m_session.CurrentUser;
    ScriptedPrompts m_prompts;
};

TEST_F(UserCenterTest, BoxesFollowTheirInputRules)
{
    CUserCenterDlg dialog(m_session, m_prompts);
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("用户中心"));
    EXPECT_EQ(dialog.passwordBox()->echoMode(), QLineEdit::Password);
    QTest::keyClicks(dialog.mobileBox(), QStringLiteral("13a8-1"));
    EXPECT_EQ(dialog.mobileBox()->text(), QStringLiteral("1381"));
    QTest::keyClicks(dialog.codeBox(), QStringLiteral("x12"));
    EXPECT_EQ(dialog.codeBox()->text(), QStringLiteral("12"));
    QTest::keyClicks(dialog.mailBox(), QStringLiteral("a@b"));
    EXPECT_EQ(dialog.mailBox()->text(), QStringLiteral("a@b"));

    // Enter in a box presses no button: it would send a request nobody asked for.
    dialog.show();
    QTest::keyClick(dialog.passwordBox(), Qt::Key_Return);
    QTest::keyClick(dialog.mobileBox(), Qt::Key_Return);
    EXPECT_TRUE(m_prompts.messages.empty());
    EXPECT_FALSE(dialog.busy());
    EXPECT_TRUE(dialog.isVisible());

    const auto groups = dialog.findChildren<QGroupBox*>();
    ASSERT_EQ(groups.size(), 1);
    EXPECT_EQ(groups[0]->title(), QStringLiteral("我的信息"));
    EXPECT_EQ(groups[0]->findChildren<QPushButton*>().size(), 5);
    bool caption = false;
    for (const QLabel* label : dialog.findChildren<QLabel*>())
        caption = caption || label->text() == QStringLiteral("扫码关注公众号\n\n投资理财更轻松");
    EXPECT_TRUE(caption);
}

TEST_F(UserCenterTest, RegisterNeedsTheCodeSentFromThisDialogThenNotifiesTheStaff)
{
    CUserCenterDlg dialog(m_session, m_prompts);
    QTest::keyClicks(dialog.userNameBox(), QStringLiteral("zhang"));
    QTest::keyClicks(dialog.passwordBox(), QStringLiteral("p&w-long"));
    QTest::keyClicks(dialog.aliasBox(), QStringLiteral("z"));
    QTest::keyClicks(dialog.mailBox(), QStringLiteral("z@x.cn"));
    QTest::keyClicks(dialog.mobileBox(), QStringLiteral("138"));
    QTest::keyClicks(dialog.codeBox(), QStringLiteral("108080"));
    QTest::mouseClick(dialog.registerButton(), Qt::LeftButton);
    EXPECT_EQ(m_prompts.messages, std::vector<std::string>{"手机验证码错误"});
    EXPECT_TRUE(m_server.requests().empty());

    answer("retcode:[User registration success!] Sucess");
    press(dialog, dialog.sendCodeButton());
    EXPECT_EQ(m_prompts.messages.back(), "发送手机验证码成功!");
    dialog.codeBox()->setText(QString::fromStdString(dialog.verification().code()));
    press(dialog, dialog.registerButton());
    ASSERT_TRUE(QTest::qWaitFor([&] { return m_prompts.messages.size() == 3; }, 20000));
    EXPECT_EQ(
        m_prompts.messages.back(),
        "注册成功,已经通知系统工作人员帮忙开通激活，最迟12小时内可以开通使用，请耐心等候，谢谢！");
    EXPECT_EQ(dialog.statusBox()->text(),
              QStringLiteral("retcode:[User registration success!] Sucess"));
    EXPECT_FALSE(CurrentUser.loggedIn);
    EXPECT_EQ(CurrentUser.userName, "zhang");

    const auto requests = m_server.requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(RequestLine(requests[1]), "POST /weborbalt/register.asp?action=add HTTP/1.0");
    EXPECT_EQ(
        RequestBody(requests[1]),
        "username=zhang&password=p%26w-long&alias=z&mail=z%40x.cn&telphone=138&channel=ORBALT");
    EXPECT_NE(RequestLine(requests[2]).find("Phones=13000000000%3B"), std::string::npos);

    // The code has served its request; a new one serves only the number it was sent to.
    QTest::mouseClick(dialog.registerButton(), Qt::LeftButton);
    EXPECT_EQ(m_prompts.messages.back(), "手机验证码已使用过，请重新获取验证码!");
    press(dialog, dialog.sendCodeButton());
    dialog.codeBox()->setText(QString::fromStdString(dialog.verification().code()));
    dialog.mobileBox()->setText(QStringLiteral("139"));
    QTest::mouseClick(dialog.registerButton(), Qt::LeftButton);
    EXPECT_EQ(m_prompts.messages.back(), "手机号码与接收验证码的号码不一致，请重新获取验证码!");
    EXPECT_EQ(m_server.requests().size(), 4u);
}

TEST_F(UserCenterTest, LoginLocksTheDetailsAndAFailedLogoutKeepsThem)
{
    CUserCenterDlg dialog(m_session, m_prompts);
    QTest::keyClicks(dialog.userNameBox(), QStringLiteral("zhang"));
    QTest::keyClicks(dialog.passwordBox(), QStringLiteral("pw"));
    QTest::keyClicks(dialog.codeBox(), QStringLiteral("12"));
    answer("login success|mail=m@x|alias=zz|telphone=139|");
    press(dialog, dialog.loginButton());
    EXPECT_TRUE(CurrentUser.loggedIn);
    EXPECT_EQ(m_prompts.messages, std::vector<std::string>{"登陆成功"});
    EXPECT_EQ(dialog.mailBox()->text(), QStringLiteral("m@x"));
    EXPECT_EQ(dialog.mobileBox()->text(), QStringLiteral("139"));
    EXPECT_TRUE(dialog.userNameBox()->isReadOnly());
    EXPECT_EQ(dialog.codeBox()->text(), QString());

    // A reopened dialog shows the logged-in user.
    EXPECT_EQ(CUserCenterDlg(m_session, m_prompts).aliasBox()->text(), QStringLiteral("zz"));

    {
        Endpoints gone = m_session.g_pHttpClient->endpoints();
        gone.website.port = test::UnusedPort();
        connect(gone);
    }
    press(dialog, dialog.logoutButton());
    EXPECT_TRUE(CurrentUser.loggedIn);
    EXPECT_EQ(m_prompts.messages.back(), "注销失败，无法连接账户服务器!");
    EXPECT_TRUE(dialog.userNameBox()->isReadOnly());
}

TEST_F(UserCenterTest, ALoginOrCodeThatCannotReachItsServerSaysWhy)
{
    {
        Endpoints gone = m_session.g_pHttpClient->endpoints();
        gone.website.port = test::UnusedPort();
        gone.smsGateway.port = gone.website.port;
        connect(gone);
    }
    CUserCenterDlg dialog(m_session, m_prompts);
    QTest::keyClicks(dialog.userNameBox(), QStringLiteral("zhang"));
    QTest::keyClicks(dialog.passwordBox(), QStringLiteral("pw"));
    QTest::keyClicks(dialog.mobileBox(), QStringLiteral("138"));
    press(dialog, dialog.loginButton());
    ASSERT_EQ(m_prompts.messages.size(), 1u);
    EXPECT_EQ(m_prompts.messages[0], "登陆失败!\n无法与账户服务器通信：连接被拒绝【7|111】");
    EXPECT_EQ(dialog.statusBox()->text(), QStringLiteral("登陆失败: 连接被拒绝【7|111】"));
    EXPECT_FALSE(CurrentUser.loggedIn);
    EXPECT_FALSE(dialog.userNameBox()->isReadOnly());

    press(dialog, dialog.sendCodeButton());
    ASSERT_EQ(m_prompts.messages.size(), 2u);
    EXPECT_EQ(m_prompts.messages[1],
              "发送手机验证码失败!\n无法与短信网关通信：连接被拒绝【7|111】");
    EXPECT_EQ(dialog.statusBox()->text(),
              QStringLiteral("发送手机验证码失败: 连接被拒绝【7|111】"));
}

TEST_F(UserCenterTest, ExitLogsTheUserOutThroughTheHook)
{
    COrbaltApp app(m_session, m_prompts);
    InstallUserCenter(app, m_prompts);
    ASSERT_TRUE(app.hooks().userCenter);
    CurrentUser.loggedIn = true;
    CurrentUser.userName = "张三";
    answer("");
    app.hooks().logout();
    const auto requests = m_server.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(RequestLine(requests[0]), "POST /weborbalt/logout.asp HTTP/1.0");
    EXPECT_EQ(RequestBody(requests[0]), "username=%D5%C5%C8%FD&channel=ORBALT");
}

} // namespace
} // namespace velmora

namespace velmora {
namespace {

// Scanners find a code by its three finder squares inside a white quiet zone.
TEST(QrCodeTest, HasItsQuietZoneAndFinderSquares)
{
    const QImage image = QrCodeImage("http://127.0.0.1:18081/", 2);
    ASSERT_FALSE(image.isNull());
    ASSERT_EQ(image.width(), image.height());
    const int modules = image.width() / 2 - 8;
    const auto black = [&](int x, int y) {
        return qGray(image.pixel((x + 4) * 2, (y + 4) * 2)) < 128;
    };
    EXPECT_FALSE(black(-1, -1));
    EXPECT_FALSE(black(modules, modules));
    for (const auto& [ox, oy] : {std::pair{0, 0}, {modules - 7, 0}, {0, modules - 7}})
        for (int i = 0; i < 7; ++i) {
            EXPECT_TRUE(black(ox + i, oy) && black(ox, oy + i) && black(ox + 6, oy + i));
            EXPECT_TRUE(black(ox + 3, oy + 3)); // the centre
            EXPECT_FALSE(black(ox + 1, oy + 1));
        }
}

} // namespace
} // namespace velmora
