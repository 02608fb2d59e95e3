#include "account/Account.h"
#include "account/SmsVerification.h"
#include "platform/RegistryKey.h"
#include "platform/TextCodec.h"
#include "tests/net/support/RawHttpServer.h"
#include "tests/support/TestSupport.h"

#include <algorithm>
#include <functional>
#include <future>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <tuple>
#include <unistd.h>

namespace velmora {
namespace {

namespace fs = std::filesystem;
using test::RawHttpServer;

using test::RequestBody;
using test::RequestLine;

std::string Saved(std::string_view name)
{
    CRegistryKey key(RegistryRoot::LocalMachine);
    std::string text = "<none>";
    if (key.Open(kRegistry.subKey))
        key.ReadString(name, text);
    return text;
}

AccountForm Filled() { return {"zhang", "pw", "z@example.cn", "13812345678", "小张", ""}; }

// Every field, compared at once so that a case also pins down what it leaves alone.
auto Fields(const UserInfo& u)
{
    return std::make_tuple(u.loggedIn, u.userName, u.alias, u.password, u.mail, u.telphone, u.type,
                           u.valid);
}
auto Fields(const AccountOutcome& o)
{
    return std::make_tuple(o.message, o.status, o.clearCode, o.detailsReadOnly, o.showDetails,
                           o.notifyStaff);
}
auto Fields(const AccountForm& f)
{
    return std::make_tuple(f.userName, f.password, f.mail, f.telphone, f.alias, f.code);
}

template <typename Start> HttpReply Await(Start start)
{
    std::promise<HttpReply> done;
    start([&done](HttpReply&& r) { done.set_value(std::move(r)); });
    return done.get_future().get();
}

// Each test talks to a canned server on loopback from a fresh directory (the client's cookie
// file lands there) and a registry of its own.
class AccountTest : public ::testing::Test {
protected:
    AccountTest() : m_previousDir(fs::current_path()) { fs::current_path(m_dir.path()); }
    ~AccountTest() override { fs::current_path(m_previousDir); }

    Endpoints endpoints(int port) const
    {
        Endpoints e;
        e.website.port = port;
        e.smsGateway.port = port;
        return e;
    }

    // The reply of one account request, as the dialog receives it.
    HttpReply post(int port, AccountRequestKind kind, const std::string& form)
    {
        CHttpClient client(endpoints(port), velmora::test::CookieFolder());
        return Await([&](ReplyHandler done) { client.startAccount(kind, form, std::move(done)); });
    }
    HttpReply answer(std::string_view body, AccountRequestKind kind = AccountRequestKind::Login,
                     const std::string& form = "username=zhang&channel=ORBALT")
    {
        m_server.setResponse(RawHttpServer::Response(200, body));
        return post(m_server.port(), kind, form);
    }
    HttpReply sms(const std::string& url)
    {
        CHttpClient client(endpoints(m_server.port()), velmora::test::CookieFolder());
        return Await([&](ReplyHandler done) { client.startSms(url, std::move(done)); });
    }

    test::TempDir m_dir;
    fs::path m_previousDir;
    test::ScopedEnv m_registry{"VELMORA_REGISTRY", (m_dir / "registry.ini").string()};
    RawHttpServer m_server;
};

TEST_F(AccountTest, FormValuesAreEncodedGbkSoTypedSyntaxStaysInsideItsField)
{
    m_server.setResponse(RawHttpServer::Response(200, ""));
    AccountForm form = Filled();
    form.userName = "张三";
    form.password = "a&b=c+d%e f#";
    post(m_server.port(), AccountRequestKind::Login,
         AccountFormBody(AccountRequestKind::Login, form));

    const auto requests = m_server.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(RequestLine(requests[0]), "POST /weborbalt/chklogin.asp?getcode=4827 HTTP/1.0");
    EXPECT_EQ(RequestBody(requests[0]),
              "username=%D5%C5%C8%FD&password=a%26b%3Dc%2Bd%25e%20f%23&channel=ORBALT");

    EXPECT_EQ(AccountFormBody(AccountRequestKind::Register, form),
              "username=%D5%C5%C8%FD&password=a%26b%3Dc%2Bd%25e%20f%23&alias=%D0%A1%D5%C5"
              "&mail=z%40example.cn&telphone=13812345678&channel=ORBALT");
    EXPECT_EQ(AccountFormBody(AccountRequestKind::Modify, form),
              AccountFormBody(AccountRequestKind::Register, form));
    EXPECT_EQ(AccountFormBody(AccountRequestKind::Logout, form),
              "username=%D5%C5%C8%FD&channel=ORBALT");
    UserInfo user;
    user.userName = "a&channel=X";
    EXPECT_EQ(ExitLogoutBody(user), "username=a%26channel%3DX&channel=ORBALT");
}

TEST(ExtractField, SkipsOneSeparatorAndKeepsTheOldValueWithoutATerminator)
{
    const struct {
        std::string_view reply;
        std::string_view key;
        bool found;
        std::string_view value;
    } cases[] = {
        {"x|mail=a@b|", "mail", true, "a@b"},
        {"mailXY|", "mail", true, "Y"},          // the separator is any character
        {"alias：小张|", "alias", true, "小张"}, // a separator of several bytes
        {"type:|", "type", true, ""},
        {"email=1|mail=2|", "mail", true, "1"}, // the first occurrence, even inside a word
        {"mail=a@b", "mail", false, "old"},
        {"alias=x|", "mail", false, "old"},
        {"mail", "mail", false, "old"},
    };
    for (const auto& c : cases) {
        std::string target = "old";
        EXPECT_EQ(ExtractField(c.reply, c.key, target), c.found) << c.reply;
        EXPECT_EQ(target, c.value) << c.reply;
    }
}

TEST(AccountChecks, RefuseInTheirOrderBeforeAnythingIsSent)
{
    EXPECT_EQ(CheckLogin({}), "用户名称不能为空!");
    EXPECT_EQ(CheckLogin({"u", "", "", "", "", ""}), "用户密码不能为空!");
    EXPECT_EQ(CheckLogin({"u", "p", "", "", "", ""}), std::nullopt);
    EXPECT_EQ(CheckLogout({}), "用户名称不能为空!");
    EXPECT_EQ(CheckLogout({"u", "", "", "", "", ""}), std::nullopt);

    for (const auto kind : {AccountRequestKind::Register, AccountRequestKind::Modify}) {
        AccountForm form;
        const auto check = [&] { return CheckDetails(kind, form, "123456"); };
        EXPECT_EQ(check(), "用户名称不能为空!");
        form.userName = "u";
        EXPECT_EQ(check(), "用户密码不能为空!");
        form.password = "一二三4567";
        if (kind == AccountRequestKind::Register)
            EXPECT_EQ(check(), "用户密码不能少于8个字符!");
        else
            EXPECT_EQ(check(), "呢称不能为空!"); // the account's password as it is
        form.password = "一二三45678";
        EXPECT_EQ(check(), "呢称不能为空!");
        form.alias = "a";
        EXPECT_EQ(check(), "邮箱不能为空或格式不对!");
        form.mail = "no-at-sign";
        EXPECT_EQ(check(), "邮箱不能为空或格式不对!");
        form.mail = "a@b";
        EXPECT_EQ(check(),
                  kind == AccountRequestKind::Register ? "手机不能为空!" : "电话不能为空!");
        form.telphone = "138";
        EXPECT_EQ(check(), "手机验证码不能为空!");
        form.code = "654321";
        EXPECT_EQ(check(), "手机验证码错误");
        form.code = "123456";
        EXPECT_EQ(check(), std::nullopt);
        // Without a code sent from this dialog, nothing is accepted.
        EXPECT_EQ(CheckDetails(kind, form, ""), "手机验证码错误");
    }
}

TEST_F(AccountTest, LoginSuccessFillsTheUserLocksTheBoxesAndSavesTheLogin)
{
    UserInfo user;
    user.mail = "earlier@mail";
    const std::string reply =
        Utf8ToGbk("login success|alias=小张|telphone=138|type=1|valid=2025|mail=x");
    EXPECT_EQ(Fields(LoginReply(answer(reply), {"zhang", "p&w", "", "", "", "9"}, user)),
              Fields(AccountOutcome{.message = "登陆成功",
                                    .status = GbkToUtf8(reply),
                                    .clearCode = true,
                                    .detailsReadOnly = true,
                                    .showDetails = true}));
    // The mail has no "|" after its value, so the earlier one stays.
    EXPECT_EQ(Fields(user),
              Fields(UserInfo{true, "zhang", "小张", "p&w", "earlier@mail", "138", "1", "2025"}));
    EXPECT_EQ(Saved(kRegistry.loginUser), "zhang");
    EXPECT_EQ(Saved(kRegistry.loginPassword), "p&w");
}

TEST_F(AccountTest, LoginRefusedFailsSilently)
{
    UserInfo user;
    EXPECT_EQ(Fields(LoginReply(answer("retcode:[wrong password]"), Filled(), user)),
              Fields(AccountOutcome{.message = "",
                                    .status = "retcode:[wrong password]",
                                    .clearCode = true,
                                    .detailsReadOnly = std::nullopt}));
    EXPECT_EQ(Fields(user), Fields(UserInfo{}));
}

// Every request whose transfer fails says so, naming the action and the reason, in a message
// and in the status box; none of them changes the user.
TEST_F(AccountTest, RequestsThatNeverReachTheServerSaySoAndChangeNothing)
{
    const int port = test::UnusedPort();
    const std::string refused = "连接被拒绝【7|111】";
    struct Case {
        std::string_view action;
        std::function<AccountOutcome(const HttpReply&, UserInfo&)> outcome;
        std::string message;
    };
    const Case cases[] = {
        {"登陆", [](const HttpReply& r, UserInfo& u) { return LoginReply(r, Filled(), u); },
         "登陆失败!\n无法与账户服务器通信：" + refused},
        {"注册", [](const HttpReply& r, UserInfo& u) { return RegisterReply(r, Filled(), u); },
         "注册失败!\n无法与账户服务器通信：" + refused},
        {"更新", [](const HttpReply& r, UserInfo&) { return ModifyReply(r); },
         "更新失败!\n无法与账户服务器通信：" + refused},
        {"发送手机验证码", [](const HttpReply& r, UserInfo&) { return SmsVerification::result(r); },
         "发送手机验证码失败!\n无法与短信网关通信：" + refused},
    };
    for (const Case& c : cases) {
        UserInfo user;
        const AccountOutcome outcome =
            c.outcome(post(port, AccountRequestKind::Login, "username=zhang"), user);
        EXPECT_EQ(outcome.message, c.message) << c.action;
        EXPECT_EQ(outcome.status, std::string(c.action) + "失败: " + refused) << c.action;
        EXPECT_FALSE(outcome.notifyStaff) << c.action;
        EXPECT_EQ(outcome.detailsReadOnly, std::nullopt) << c.action;
        EXPECT_EQ(Fields(user), Fields(UserInfo{})) << c.action;
    }
    EXPECT_EQ(Saved(kRegistry.loginUser), "<none>");

    // What the user cancelled needs no box.
    HttpReply cancelled;
    cancelled.code = CURLE_ABORTED_BY_CALLBACK;
    UserInfo user;
    const AccountOutcome outcome = LoginReply(cancelled, Filled(), user);
    EXPECT_EQ(outcome.message, "");
    EXPECT_EQ(outcome.status, "登陆已取消");
    EXPECT_TRUE(outcome.clearCode);
}

TEST_F(AccountTest, LogoutNeedsTheServersEmptyReply)
{
    UserInfo user;
    user.loggedIn = true;
    AccountOutcome expected{
        .message = "", .status = "retcode:[User logout success!]", .detailsReadOnly = false};
    EXPECT_EQ(Fields(LogoutReply(answer("some text", AccountRequestKind::Logout), user)),
              Fields(expected));
    EXPECT_TRUE(user.loggedIn);

    expected.message = "注销成功";
    EXPECT_EQ(Fields(LogoutReply(answer("", AccountRequestKind::Logout), user)), Fields(expected));
    EXPECT_FALSE(user.loggedIn);

    // Without a reply the user stays logged in.
    user.loggedIn = true;
    const AccountOutcome outcome =
        LogoutReply(post(test::UnusedPort(), AccountRequestKind::Logout, "x"), user);
    EXPECT_TRUE(user.loggedIn);
    EXPECT_EQ(outcome.message, "注销失败，无法连接账户服务器!");
    ASSERT_TRUE(outcome.status);
    EXPECT_EQ(outcome.status->rfind("注销失败: open trade error=", 0), 0u) << *outcome.status;
    EXPECT_EQ(outcome.detailsReadOnly, std::nullopt);
}

TEST_F(AccountTest, RegisterReplies)
{
    const AccountForm form = Filled();
    UserInfo user;
    EXPECT_EQ(Fields(RegisterReply(answer("<p>retcode:[User registration success!]</p>",
                                          AccountRequestKind::Register),
                                   form, user)),
              Fields(AccountOutcome{.message = "",
                                    .status = "retcode:[User registration success!]</p>",
                                    .detailsReadOnly = std::nullopt,
                                    .notifyStaff = true}));
    EXPECT_EQ(Fields(user), Fields(UserInfo{false, "zhang", "小张", "pw", "z@example.cn",
                                            "13812345678", "", ""}));
    EXPECT_NE(RegisteredMessage(true), RegisteredMessage(false));
    EXPECT_NE(RegisteredMessage(true).find("12小时"), std::string::npos);

    // A refusal, and the success text alone without "retcode", which is no answer at all.
    const struct {
        std::string_view reply;
        AccountOutcome outcome;
    } refusals[] = {
        {"x retcode:[name taken]",
         {.message = "由于系统原因，注册失败！",
          .status = "retcode:[name taken]",
          .detailsReadOnly = std::nullopt}},
        {"[User registration success!]", {}},
    };
    for (const auto& c : refusals) {
        UserInfo other;
        EXPECT_EQ(Fields(RegisterReply(answer(c.reply, AccountRequestKind::Register), form, other)),
                  Fields(c.outcome))
            << c.reply;
        EXPECT_EQ(Fields(other), Fields(UserInfo{})) << c.reply;
    }
}

TEST_F(AccountTest, ModifyShowsTheReplyFromRetcodeOnly)
{
    EXPECT_EQ(Fields(ModifyReply(answer("ok retcode:[done]", AccountRequestKind::Modify))),
              Fields(AccountOutcome{
                  .message = "", .status = "retcode:[done]", .detailsReadOnly = std::nullopt}));
    EXPECT_EQ(Fields(ModifyReply(answer("error page", AccountRequestKind::Modify))),
              Fields(AccountOutcome{}));
}

TEST_F(AccountTest, OpeningShowsTheLoggedInUserOrTheSavedLogin)
{
    UserInfo user;
    user.userName = "kept";
    user.password = "kept-pw";
    // Nothing saved: the fields stay.
    EXPECT_EQ(Fields(OpeningForm(user)), Fields(AccountForm{"kept", "kept-pw", "", "", "", ""}));

    SaveLogin(nullptr, "李四", "secret");
    user.mail = "m@x"; // a user not logged in sees only the saved login
    EXPECT_EQ(Fields(OpeningForm(user)), Fields(AccountForm{"李四", "secret", "", "", "", ""}));
    EXPECT_EQ(user.userName, "李四");

    user = {true, "me", "alias", "pw", "m@x", "139", "", ""};
    EXPECT_EQ(Fields(OpeningForm(user)),
              Fields(AccountForm{"me", "pw", "m@x", "139", "alias", ""}));
    EXPECT_EQ(user.userName, "me");
}

TEST_F(AccountTest, GatewayUrlEncodesEveryValueAsUtf8)
{
    m_server.setResponse(RawHttpServer::Response(200, "<string>Sucess</string>"));
    SmsVerification verification;
    const auto request = verification.begin(endpoints(m_server.port()), "138&SendType=9#x");
    ASSERT_EQ(request.message, "");
    const HttpReply reply = sms(request.url);
    EXPECT_EQ(SmsVerification::resultMessage(reply), "发送手机验证码成功!");

    const auto requests = m_server.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(RequestLine(requests[0]),
              "GET /GateWay/Services.asmx/DirectSend?UserID=602318&Account=vlmsg&Password=K7Q2ZD"
              "&Phones=138%26SendType%3D9%23x%3B"
              "&Content=%E9%AA%8C%E8%AF%81%E7%A0%81%EF%BC%9A" +
                  verification.code() +
                  "%E3%80%90Tessaly%E3%80%91&SendTime=&SendType=1&PostFixNumber= HTTP/1.0");

    const std::string staff = StaffNotificationUrl(endpoints(m_server.port()), "a b&c");
    EXPECT_NE(staff.find("&Phones=13000000000%3B&Content=Velmora%E7%94%A8%E6%88%B7%5Ba%20b%26c%5D"),
              std::string::npos)
        << staff;
}

TEST_F(AccountTest, CodesAreKeptPerDialogAndOnlyTheLastCounts)
{
    const Endpoints unreachable = endpoints(test::UnusedPort());
    SmsVerification verification;
    EXPECT_FALSE(verification.accepts(""));
    EXPECT_EQ(verification.begin(unreachable, "").message, "手机不能为空!");
    EXPECT_EQ(verification.code(), "");

    const auto first = verification.begin(unreachable, "138");
    const std::string firstCode = verification.code();
    // A failed send keeps the code.
    EXPECT_EQ(SmsVerification::resultMessage(sms(first.url)), "发送手机验证码失败!");
    EXPECT_TRUE(verification.accepts(firstCode));

    m_server.setResponse(RawHttpServer::Response(200, "Error"));
    EXPECT_EQ(SmsVerification::resultMessage(sms(first.url)), "发送手机验证码失败!");

    // An empty number leaves the stored code.
    EXPECT_EQ(verification.begin(unreachable, "").message, "手机不能为空!");
    EXPECT_EQ(verification.code(), firstCode);

    do
        verification.begin(unreachable, "138");
    while (verification.code() == firstCode);
    EXPECT_FALSE(verification.accepts(firstCode));
    EXPECT_TRUE(verification.accepts(verification.code()));
    EXPECT_FALSE(SmsVerification().accepts(verification.code()));
}

// A code goes with the number it was sent to, with one request, within ten minutes.
TEST_F(AccountTest, ACodeIsBoundToItsNumberUsedOnceAndExpires)
{
    const Endpoints unreachable = endpoints(test::UnusedPort());
    const auto sent = SmsVerification::Clock::now();
    SmsVerification verification;
    EXPECT_EQ(verification.refusal("123456", "13800000000", sent), "请先获取手机验证码!");
    verification.begin(unreachable, "13800000000", sent);
    const std::string code = verification.code();
    struct Case {
        std::string typed;
        std::string mobile;
        std::chrono::seconds after;
        std::optional<std::string> refusal;
    };
    const Case cases[] = {
        {code, "13800000000", std::chrono::seconds(0), std::nullopt},
        {code, "13800000000", std::chrono::seconds(600), std::nullopt},
        {code, "13800000000", std::chrono::seconds(601),
         "手机验证码已过期（10分钟内有效），请重新获取验证码!"},
        {code, "13900000000", std::chrono::seconds(1),
         "手机号码与接收验证码的号码不一致，请重新获取验证码!"},
        {code + "0", "13800000000", std::chrono::seconds(1), "手机验证码错误"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(verification.refusal(c.typed, c.mobile, sent + c.after), c.refusal)
            << c.mobile << " " << c.after.count();
    verification.spend();
    EXPECT_EQ(verification.refusal(code, "13800000000", sent),
              "手机验证码已使用过，请重新获取验证码!");
    // A new code is good again, for its own number.
    verification.begin(unreachable, "13900000000", sent);
    EXPECT_EQ(verification.refusal(verification.code(), "13900000000", sent), std::nullopt);
}

TEST(VerificationCode, SixDigitsInRangeAndUnpredictableFromAnotherProcess)
{
    for (int i = 0; i < 300; ++i) {
        const int code = DrawVerificationCode();
        ASSERT_GE(code, 108080);
        ASSERT_LE(code, 108080 + 32767);
    }
    // A forked copy shares all of the process's state: a generator kept in it would draw the
    // same codes in both.
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    int codes[4];
    if (child == 0) {
        for (int& c : codes)
            c = DrawVerificationCode();
        const bool written = ::write(fds[1], codes, sizeof codes) == sizeof codes;
        ::_exit(written ? 0 : 1);
    }
    int theirs[4] = {};
    const bool read = ::read(fds[0], theirs, sizeof theirs) == sizeof theirs;
    ::waitpid(child, nullptr, 0);
    ::close(fds[0]);
    ::close(fds[1]);
    ASSERT_TRUE(read);
    for (int& c : codes)
        c = DrawVerificationCode();
    EXPECT_FALSE(std::equal(std::begin(codes), std::end(codes), std::begin(theirs)));
}

} // namespace
} // namespace velmora
