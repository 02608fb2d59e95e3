#include "services/AccountServer.h"

#include "net/UrlEncoding.h"
#include "platform/AsciiText.h"
#include "platform/Failure.h"
#include "platform/TextCodec.h"
#include "services/WebsitePages.h"

#include <algorithm>
#include <ctime>
#include <sodium.h>

namespace velmora::services {

namespace {

constexpr std::string_view kReplyType = "text/html; charset=GBK";
constexpr std::string_view kSessionCookie = "vsid";
constexpr std::int64_t kSessionSeconds = 12 * 3600;
constexpr std::size_t kMaxForm = 16 * 1024;

constexpr std::size_t kMinPassword = 8;

// Whether the bytes are GBK as the program writes it: every byte sequence decodes and
// encodes back to itself, so that no two different values read as one.
bool IsGbk(const std::string& bytes) { return Utf8ToGbk(GbkToUtf8(bytes)) == bytes; }

std::string Value(const AccountServer::Form& form, const std::string& key)
{
    const auto found = form.find(key);
    return found == form.end() ? std::string() : GbkToUtf8(found->second);
}

// Without leading and trailing blanks (ASCII and ideographic spaces, tabs).
std::string Trimmed(std::string text)
{
    static constexpr std::string_view kIdeographicSpace = "\xE3\x80\x80";
    for (;;) {
        if (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
            text.pop_back();
        else if (text.ends_with(kIdeographicSpace))
            text.resize(text.size() - kIdeographicSpace.size());
        else
            break;
    }
    std::size_t start = 0;
    for (;;) {
        if (start < text.size() && (text[start] == ' ' || text[start] == '\t'))
            ++start;
        else if (std::string_view(text).substr(start).starts_with(kIdeographicSpace))
            start += kIdeographicSpace.size();
        else
            break;
    }
    return text.substr(start);
}

// The reason the form's values cannot be read, empty when they can.
std::string EncodingProblem(const AccountServer::Form& form)
{
    for (const auto& [key, value] : form) {
        if (!IsGbk(value))
            return "提交的内容含有无效的GBK编码，请检查输入的文字";
    }
    return {};
}

std::string QueryOf(const std::string& target)
{
    const std::size_t question = target.find('?');
    return question == std::string::npos ? std::string() : target.substr(question + 1);
}

std::size_t Characters(const std::string& utf8)
{
    return static_cast<std::size_t>(
        std::count_if(utf8.begin(), utf8.end(), [](char c) { return (c & 0xC0) != 0x80; }));
}

// The login reply separates fields with '|' and the program reads each up to the next one;
// a value holding one, or a line break, would hand it a different field.
bool Printable(const std::string& text)
{
    return std::none_of(text.begin(), text.end(),
                        [](char c) { return c == '|' || IsAsciiControl(c); });
}

// The reason the fields cannot make an account, empty when they can.
std::string FieldProblem(const std::string& name, const std::string& password,
                         const std::string& alias, const std::string& mail,
                         const std::string& telphone, bool newPassword = true)
{
    if (name.empty() || Characters(name) > 32)
        return "用户名称不能为空，最长32个字符";
    if ((newPassword && Characters(password) < kMinPassword) || password.empty() ||
        password.size() > 128)
        return "用户密码至少8个字符，最长128个字节";
    if (alias.empty() || Characters(alias) > 32)
        return "呢称不能为空，最长32个字符";
    if (mail.size() < 3 || mail.size() > 128 || mail.find('@') == std::string::npos)
        return "邮箱不能为空或格式不对";
    if (telphone.size() < 5 || telphone.size() > 20 ||
        !std::all_of(telphone.begin(), telphone.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return "手机号码必须是5到20位数字";
    if (!Printable(name) || !Printable(password) || !Printable(alias) || !Printable(mail))
        return "各项内容不能含有“|”或控制字符";
    // The program takes each field from the first place its key appears anywhere in the login
    // reply, and the alias and the mail come before the keys after them.
    for (const std::string_view key : {"mail", "telphone", "type", "valid"}) {
        if (alias.find(key) != std::string::npos ||
            (key != "mail" && mail.find(key) != std::string::npos))
            return "呢称和邮箱不能含有mail、telphone、type或valid字样";
    }
    return {};
}

std::string SessionId()
{
    unsigned char bytes[24];
    randombytes_buf(bytes, sizeof bytes);
    char hex[sizeof bytes * 2 + 1];
    sodium_bin2hex(hex, sizeof hex, bytes, sizeof bytes);
    return hex;
}

std::string CookieValue(const std::string& header, std::string_view name)
{
    std::size_t start = 0;
    while (start < header.size()) {
        std::size_t end = header.find(';', start);
        if (end == std::string::npos)
            end = header.size();
        std::string_view part(header.data() + start, end - start);
        while (!part.empty() && part.front() == ' ')
            part.remove_prefix(1);
        if (part.size() > name.size() && part.substr(0, name.size()) == name &&
            part[name.size()] == '=')
            return std::string(part.substr(name.size() + 1));
        start = end + 1;
    }
    return {};
}

} // namespace

AccountServer::Form DecodeForm(std::string_view text)
{
    AccountServer::Form form;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find('&', start);
        if (end == std::string_view::npos)
            end = text.size();
        const std::string_view pair = text.substr(start, end - start);
        if (!pair.empty()) {
            const std::size_t equals = pair.find('=');
            form.emplace(PercentDecode(pair.substr(0, equals)),
                         equals == std::string_view::npos ? std::string()
                                                          : PercentDecode(pair.substr(equals + 1)));
        }
        start = end + 1;
    }
    return form;
}

AccountServer::AccountServer(AccountServerOptions options) : m_options(std::move(options)) {}

AccountServer::~AccountServer() { stop(); }

std::int64_t AccountServer::now() const
{
    if (m_options.clock)
        return m_options.clock();
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

std::string AccountServer::url() const { return m_server ? m_server->url(m_options.host) : ""; }

bool AccountServer::start(std::string* error)
{
    if (m_server)
        return Fail(error, "the account server is already running");
    if (sodium_init() < 0)
        return Fail(error, "the password library cannot be initialised");
    m_store = AccountStore::open(m_options.db, error);
    if (!m_store)
        return false;
    m_guard = std::make_unique<LoginGuard>(*m_store);
    m_registrations =
        std::make_unique<RateLimit>(m_options.registrations, m_options.registrationWindow);
    // Checked against when a name is unknown, so that the answer takes as long as for a known
    // one and does not tell which names exist.
    m_decoyHash = HashPassword(SessionId(), m_options.hashCost);

    m_server = std::make_unique<GuardedServer>(m_options.limits);
    m_server->set_keep_alive_timeout(1);
    m_server->set_payload_max_length(kMaxForm);

    auto send = [](httplib::Response& response, const Reply& reply) {
        response.status = reply.status;
        if (!reply.cookie.empty())
            response.set_header("Set-Cookie", reply.cookie);
        response.set_content(Utf8ToGbk(reply.text), std::string(kReplyType));
    };
    m_server->Post("/weborbalt/register\\.asp",
                   [this, send](const httplib::Request& request, httplib::Response& response) {
                       const Form query = DecodeForm(QueryOf(request.target));
                       const Form form = DecodeForm(request.body);
                       const std::string action = Value(query, "action");
                       if (action == "add")
                           send(response, registerAccount(form, request.remote_addr));
                       else if (action == "mod")
                           send(response, modifyAccount(form, request.remote_addr));
                       else
                           send(response, {404, "retcode=9 未知的操作", {}});
                   });
    m_server->Post("/weborbalt/chklogin\\.asp", [this, send](const httplib::Request& request,
                                                             httplib::Response& response) {
        const Form query = DecodeForm(QueryOf(request.target));
        const std::string code = Value(query, "getcode");
        if (code.size() != m_options.accessCode.size() ||
            sodium_memcmp(code.data(), m_options.accessCode.data(), code.size()) != 0) {
            send(response, {403, "login failed: 访问码错误", {}});
            return;
        }
        send(response, login(DecodeForm(request.body), request.remote_addr));
    });
    m_server->Post("/weborbalt/logout\\.asp",
                   [this](const httplib::Request& request, httplib::Response& response) {
                       const std::string expired =
                           logout(CookieValue(request.get_header_value("Cookie"), kSessionCookie));
                       if (!expired.empty())
                           response.set_header("Set-Cookie", expired);
                       response.set_content("", std::string(kReplyType));
                   });

    AddWebsitePages(*m_server, m_options.publishDir, m_options.helpDir);

    if (!m_server->startServing(m_options.host, m_options.port, error)) {
        m_server.reset();
        return false;
    }
    m_port = m_server->boundPort();
    return true;
}

void AccountServer::stop()
{
    if (!m_server)
        return;
    m_server->stopServing();
    m_server.reset();
}

std::optional<bool> AccountServer::checkPassword(const std::optional<Account>& account,
                                                 const std::string& name,
                                                 const std::string& password,
                                                 const std::string& address, std::int64_t& wait)
{
    const LoginGuard::Attempt attempt = m_guard->admit(name, address, now());
    wait = attempt.wait;
    if (wait > 0)
        return std::nullopt;
    m_hashing.acquire();
    const bool fits =
        VerifyPassword(account ? account->passwordHash : m_decoyHash, password) && account;
    m_hashing.release();
    m_guard->settle(attempt, fits);
    return fits;
}

AccountServer::Reply AccountServer::registerAccount(const Form& form, const std::string& address)
{
    if (const std::string problem = EncodingProblem(form); !problem.empty())
        return {200, "retcode=2 注册失败：" + problem, {}};
    Account account;
    account.name = Trimmed(Value(form, "username"));
    const std::string password = Value(form, "password");
    account.alias = Value(form, "alias");
    account.mail = Value(form, "mail");
    account.telphone = Value(form, "telphone");
    const std::string problem =
        FieldProblem(account.name, password, account.alias, account.mail, account.telphone);
    if (!problem.empty())
        return {200, "retcode=2 注册失败：" + problem, {}};
    std::int64_t wait = 0;
    if (!m_registrations->take(address, now(), wait))
        return {
            200, "retcode=4 注册失败：注册过于频繁，请" + std::to_string(wait) + "秒后再试", {}};
    m_hashing.acquire();
    account.passwordHash = HashPassword(password, m_options.hashCost);
    m_hashing.release();
    if (account.passwordHash.empty())
        return {500, "retcode=3 注册失败：系统忙，请稍后再试", {}};
    switch (m_store->add(account)) {
    case AccountStore::Added::Ok:
        return {200, "retcode=0 [User registration success!] 注册成功，等待工作人员开通激活", {}};
    case AccountStore::Added::NameTaken:
        return {200, "retcode=1 注册失败：用户名称已被使用", {}};
    case AccountStore::Added::Failed:
        break;
    }
    return {500, "retcode=3 注册失败：系统忙，请稍后再试", {}};
}

AccountServer::Reply AccountServer::modifyAccount(const Form& form, const std::string& address)
{
    if (const std::string problem = EncodingProblem(form); !problem.empty())
        return {200, "retcode=2 修改失败：" + problem, {}};
    const std::string name = Trimmed(Value(form, "username"));
    const std::string password = Value(form, "password");
    const std::string alias = Value(form, "alias");
    const std::string mail = Value(form, "mail");
    const std::string telphone = Value(form, "telphone");
    // An account from before the minimum password length keeps its password.
    const std::string problem = FieldProblem(name, password, alias, mail, telphone, false);
    if (!problem.empty())
        return {200, "retcode=2 修改失败：" + problem, {}};
    const std::optional<Account> account = m_store->find(name);
    std::int64_t wait = 0;
    const std::optional<bool> fits = checkPassword(account, name, password, address, wait);
    if (!fits)
        return {
            200, "retcode=4 修改失败：尝试次数过多，请" + std::to_string(wait) + "秒后再试", {}};
    if (!*fits)
        return {200, "retcode=5 修改失败：用户名称或密码错误", {}};
    if (!m_store->updateDetails(account->name, alias, mail, telphone))
        return {500, "retcode=3 修改失败：系统忙，请稍后再试", {}};
    return {200, "retcode=0 [User information modified!] 修改成功", {}};
}

AccountServer::Reply AccountServer::login(const Form& form, const std::string& address)
{
    if (const std::string problem = EncodingProblem(form); !problem.empty())
        return {200, "login failed: " + problem, {}};
    const std::string name = Trimmed(Value(form, "username"));
    const std::string password = Value(form, "password");
    if (name.empty() || password.empty())
        return {200, "login failed: 用户名称和密码不能为空", {}};
    const std::optional<Account> account = m_store->find(name);
    std::int64_t wait = 0;
    const std::optional<bool> fits = checkPassword(account, name, password, address, wait);
    if (!fits)
        return {200, "login failed: 尝试次数过多，请" + std::to_string(wait) + "秒后再试", {}};
    if (!*fits)
        return {200, "login failed: 用户名称或密码错误", {}};
    // Only after the password: the state of an account is nobody else's business.
    if (!account->active)
        return {200, "login failed: 账户尚未开通激活，请等待工作人员处理", {}};

    const std::string id = SessionId();
    {
        const std::lock_guard lock(m_sessionMutex);
        const std::int64_t current = now();
        std::erase_if(m_sessions,
                      [current](const auto& item) { return item.second.second < current; });
        m_sessions[id] = {account->name, current + kSessionSeconds};
    }
    Reply reply;
    reply.text = "login success\r\nalias=" + account->alias + "|mail=" + account->mail +
                 "|telphone=" + account->telphone + "|type=" + account->type +
                 "|valid=" + account->activated.substr(0, 10) + "|";
    reply.cookie =
        std::string(kSessionCookie) + "=" + id +
        "; Path=/weborbalt; HttpOnly; SameSite=Strict; Max-Age=" + std::to_string(kSessionSeconds);
    return reply;
}

std::string AccountServer::logout(const std::string& cookie)
{
    if (cookie.empty())
        return {};
    const std::lock_guard lock(m_sessionMutex);
    if (m_sessions.erase(cookie) == 0)
        return {};
    return std::string(kSessionCookie) + "=; Path=/weborbalt; HttpOnly; SameSite=Strict; Max-Age=0";
}

} // namespace velmora::services
