#include "account/Account.h"

#include "net/TransferFailure.h"
#include "net/UrlEncoding.h"
#include "platform/RegistryKey.h"
#include "platform/TextCodec.h"

#include <algorithm>

namespace velmora {

namespace {

constexpr std::string_view kAccountServer = "账户服务器";
constexpr std::size_t kMinPassword = 8;

std::size_t Utf8Characters(std::string_view text)
{
    return static_cast<std::size_t>(
        std::count_if(text.begin(), text.end(), [](char c) { return (c & 0xC0) != 0x80; }));
}

void AddField(std::string& body, std::string_view name, std::string_view utf8)
{
    if (!body.empty())
        body += '&';
    body += name;
    body += '=';
    body += PercentEncode(Utf8ToGbk(utf8));
}

bool Contains(std::string_view text, std::string_view part)
{
    return text.find(part) != std::string_view::npos;
}

// Replies are GBK; the markers searched for are ASCII and survive the conversion.
std::string ReplyText(const HttpReply& reply) { return GbkToUtf8(reply.body.view()); }

std::size_t Utf8Length(unsigned char lead)
{
    if (lead >= 0xF0)
        return 4;
    if (lead >= 0xE0)
        return 3;
    if (lead >= 0xC0)
        return 2;
    return 1;
}

std::optional<std::string> RequireName(const AccountForm& form)
{
    if (form.userName.empty())
        return "用户名称不能为空!";
    return std::nullopt;
}

} // namespace

std::string AccountFormBody(AccountRequestKind kind, const AccountForm& form)
{
    std::string body;
    AddField(body, "username", form.userName);
    switch (kind) {
    case AccountRequestKind::Register:
    case AccountRequestKind::Modify:
        AddField(body, "password", form.password);
        AddField(body, "alias", form.alias);
        AddField(body, "mail", form.mail);
        AddField(body, "telphone", form.telphone);
        break;
    case AccountRequestKind::Login:
        AddField(body, "password", form.password);
        break;
    case AccountRequestKind::Logout:
        break;
    }
    body += "&channel=ORBALT";
    return body;
}

std::string ExitLogoutBody(const UserInfo& user)
{
    AccountForm form;
    form.userName = user.userName;
    return AccountFormBody(AccountRequestKind::Logout, form);
}

bool ExtractField(std::string_view reply, std::string_view key, std::string& target)
{
    const std::size_t at = reply.find(key);
    if (at == std::string_view::npos)
        return false;
    std::size_t begin = at + key.size();
    if (begin >= reply.size())
        return false;
    // The separator is one character, which in UTF-8 may be several bytes.
    begin += Utf8Length(static_cast<unsigned char>(reply[begin]));
    if (begin > reply.size())
        return false;
    const std::size_t end = reply.find('|', begin);
    if (end == std::string_view::npos)
        return false;
    target.assign(reply.substr(begin, end - begin));
    return true;
}

std::optional<std::string> CheckLogin(const AccountForm& form)
{
    if (auto refused = RequireName(form))
        return refused;
    if (form.password.empty())
        return "用户密码不能为空!";
    return std::nullopt;
}

std::optional<std::string> CheckLogout(const AccountForm& form) { return RequireName(form); }

std::optional<std::string> CheckDetails(AccountRequestKind kind, const AccountForm& form,
                                        std::string_view smsCode)
{
    if (auto refused = CheckLogin(form))
        return refused;
    // The account server's minimum; a change sends the password the account already has.
    if (kind == AccountRequestKind::Register && Utf8Characters(form.password) < kMinPassword)
        return "用户密码不能少于8个字符!";
    if (form.alias.empty())
        return "呢称不能为空!";
    if (!Contains(form.mail, "@"))
        return "邮箱不能为空或格式不对!";
    if (form.telphone.empty())
        return kind == AccountRequestKind::Register ? "手机不能为空!" : "电话不能为空!";
    if (form.code.empty())
        return "手机验证码不能为空!";
    if (smsCode.empty() || form.code != smsCode)
        return "手机验证码错误";
    return std::nullopt;
}

AccountOutcome TransferFailed(std::string_view action, std::string_view server,
                              const HttpReply& reply)
{
    AccountOutcome outcome;
    if (reply.code == CURLE_ABORTED_BY_CALLBACK) {
        outcome.status = std::string(action) + "已取消";
        return outcome;
    }
    const std::string reason = TransferFailureText(reply);
    outcome.message =
        std::string(action) + "失败!\n无法与" + std::string(server) + "通信：" + reason;
    outcome.status = std::string(action) + "失败: " + reason;
    return outcome;
}

AccountOutcome LoginReply(const HttpReply& reply, const AccountForm& form, UserInfo& user,
                          PasswordVault* vault)
{
    if (!reply.ok()) {
        AccountOutcome failed = TransferFailed("登陆", kAccountServer, reply);
        failed.clearCode = true;
        return failed;
    }
    AccountOutcome outcome;
    const std::string text = ReplyText(reply);
    if (Contains(text, "login success")) {
        user.userName = form.userName;
        user.password = form.password;
        ExtractField(text, "alias", user.alias);
        ExtractField(text, "mail", user.mail);
        ExtractField(text, "telphone", user.telphone);
        ExtractField(text, "type", user.type);
        ExtractField(text, "valid", user.valid);
        user.loggedIn = true;
        SaveLogin(vault, form.userName, form.password);
        outcome.message = "登陆成功";
        outcome.showDetails = true;
        outcome.detailsReadOnly = true;
    }
    outcome.status = text;
    outcome.clearCode = true;
    return outcome;
}

AccountOutcome LogoutReply(const HttpReply& reply, UserInfo& user)
{
    AccountOutcome outcome;
    if (!reply.ok()) {
        outcome.message = "注销失败，无法连接账户服务器!";
        outcome.status = "注销失败: " + CHttpClient::errorText(reply.code);
        return outcome;
    }
    if (reply.body.empty()) {
        outcome.message = "注销成功";
        user.loggedIn = false;
    }
    outcome.status = "retcode:[User logout success!]";
    outcome.detailsReadOnly = false;
    return outcome;
}

AccountOutcome RegisterReply(const HttpReply& reply, const AccountForm& form, UserInfo& user)
{
    if (!reply.ok())
        return TransferFailed("注册", kAccountServer, reply);
    AccountOutcome outcome;
    const std::string text = ReplyText(reply);
    const std::size_t retcode = text.find("retcode");
    if (retcode == std::string::npos)
        return outcome;
    if (Contains(text, "[User registration success!]")) {
        user.userName = form.userName;
        user.password = form.password;
        user.mail = form.mail;
        user.alias = form.alias;
        user.telphone = form.telphone;
        outcome.notifyStaff = true;
    } else {
        outcome.message = "由于系统原因，注册失败！";
    }
    outcome.status = text.substr(retcode);
    return outcome;
}

std::string RegisteredMessage(bool staffNotified)
{
    return staffNotified ? "注册成功,已经通知系统工作人员帮忙开通激活，最迟12小时内可以开通使用，"
                           "请耐心等候，谢谢！"
                         : "注册成功,已经通知系统工作人员帮忙开通激活，请耐心等候，谢谢！";
}

AccountOutcome ModifyReply(const HttpReply& reply)
{
    if (!reply.ok())
        return TransferFailed("更新", kAccountServer, reply);
    AccountOutcome outcome;
    const std::string text = ReplyText(reply);
    if (const std::size_t retcode = text.find("retcode"); retcode != std::string::npos)
        outcome.status = text.substr(retcode);
    return outcome;
}

AccountForm OpeningForm(UserInfo& user)
{
    AccountForm form;
    if (user.loggedIn) {
        form.mail = user.mail;
        form.alias = user.alias;
        form.telphone = user.telphone;
    } else {
        CRegistryKey key(RegistryRoot::LocalMachine);
        if (key.Open(kRegistry.subKey)) {
            key.ReadString(kRegistry.loginUser, user.userName);
            key.ReadString(kRegistry.loginPassword, user.password);
        }
    }
    form.userName = user.userName;
    form.password = user.password;
    return form;
}

namespace {

void WriteSaved(std::string_view name, std::string_view text)
{
    CRegistryKey key(RegistryRoot::LocalMachine);
    if (key.Open(kRegistry.subKey))
        key.WriteString(name, text);
}

} // namespace

void SaveLogin(PasswordVault* vault, std::string_view userName, std::string_view password)
{
    WriteSaved(kRegistry.loginUser, userName);
    if (!vault) {
        WriteSaved(kRegistry.loginPassword, password);
        return;
    }
    vault->store(std::string(userName), std::string(password),
                 [secret = std::string(password)](bool kept) {
                     WriteSaved(kRegistry.loginPassword, kept ? std::string_view() : secret);
                 });
}

void ReadSavedPassword(PasswordVault* vault, const std::string& userName,
                       std::function<void(std::optional<std::string>)> done)
{
    if (!vault || userName.empty()) {
        done(std::nullopt);
        return;
    }
    vault->read(userName, std::move(done));
}

} // namespace velmora
