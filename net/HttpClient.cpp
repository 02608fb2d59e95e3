#include "net/HttpClient.h"

#include "net/CurlEngine.h"
#include "platform/SettingsStore.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <memory>
#include <span>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace velmora {

namespace {

constexpr const char* kDefaultUserAgent =
    "Mozilla/5.0 (Windows NT 5.1) AppleWebKit/537.36 (KHTML, like Gecko) "
    "Chrome/29.0.1547.66 Safari/537.36 LBBROWSER";

// The header lines every request sends, in this order. Servers on the other side were written
// against these exact bytes, the doubled Accept-Language (the first without a blank) included.
constexpr std::string_view kHostLine = "Host: ";

constexpr std::array<std::string_view, 8> kCommonHeaders{
    "Accept-Language:zh-CN,zh;q=0.8,en-US;q=0.5,en;q=0.3",
    kHostLine,
    "User-Agent: Mozilla/5.0 (Windows NT 6.1; WOW64; rv:38.0) Gecko/20100101 Firefox/38.0",
    "Accept: text/html,application/xhtml+xml,application/xml;q=0.9,*/*;q=0.8",
    "Accept-Language: zh-CN,zh;q=0.8,en-US;q=0.5,en;q=0.3",
    "Accept-Encoding: gzip, deflate",
    "Connection: keep-alive",
    "Cache-Control: no-cache", // account and gateway requests only
};

constexpr std::array<std::string_view, 6> kVersionHeaders{
    "Accept-Language: zh-cn,zh;q=0.8,en-us;q=0.5,en;q=0.3",
    kHostLine,
    "User-Agent: Mozilla/5.0 (Windows NT 6.1; WOW64; rv:35.0) Gecko/20100101 Firefox/35.0",
    "Accept: text/html,application/xhtml+xml,application/xml;q=0.9,*/*;q=0.8",
    "Accept-Encoding: gzip, deflate",
    "Connection: Keep-Alive",
};

std::string_view AccountPath(AccountRequestKind kind)
{
    switch (kind) {
    case AccountRequestKind::Register:
        return "/weborbalt/register.asp?action=add";
    case AccountRequestKind::Modify:
        return "/weborbalt/register.asp?action=mod";
    case AccountRequestKind::Login:
        return "/weborbalt/chklogin.asp?getcode=";
    case AccountRequestKind::Logout:
        return "/weborbalt/logout.asp";
    }
    return "/";
}

// libcurl creates a missing cookie jar with the process umask, which usually leaves it
// readable by everyone, but keeps the mode of an existing one. The session cookies of the
// account server are credentials, so the file is made to exist, owner-only, before libcurl
// ever writes it.
void PrepareCookieFile(const std::string& name)
{
    const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return;
    (void)::fchmod(fd, 0600);
    ::close(fd);
}

} // namespace

std::filesystem::path CHttpClient::defaultCookieFolder()
{
    return UserDirectory("XDG_STATE_HOME", ".local/state");
}

CHttpClient::CHttpClient(Endpoints endpoints, const std::filesystem::path& cookieFolder)
    : m_endpoints(std::move(endpoints))
{
    (void)curl_global_init(CURL_GLOBAL_ALL);
    m_userAgent = kDefaultUserAgent;
    const std::string name = "Cookie0.txt";
    m_cookieFile = !cookieFolder.empty() && MakeDirectories(cookieFolder)
                       ? (cookieFolder / name).string()
                       : name;
    m_engine = std::make_unique<CurlEngine>(
        CurlOptions{m_userAgent, m_endpoints.caFile, &appendToBody, &AppendToString});
    DeleteCookieFile();
    InitHandle();
}

CHttpClient::~CHttpClient()
{
    // The transfers first, then the handle writes out the store they shared, then the store.
    m_engine->stop();
    if (m_handle != nullptr)
        curl_easy_cleanup(m_handle); // writes the cookie file
    m_handle = nullptr;
    m_engine.reset();
    curl_global_cleanup();
}

int CHttpClient::InitHandle()
{
    if (m_handle != nullptr)
        ReleaseHandle();
    m_handle = curl_easy_init();
    if (m_handle == nullptr || !m_engine->usable())
        return 0;
    PrepareCookieFile(m_cookieFile);
    curl_easy_setopt(m_handle, CURLOPT_SHARE, m_engine->share());
    curl_easy_setopt(m_handle, CURLOPT_COOKIEJAR, m_cookieFile.c_str());
    m_engine->setReady(true);
    return 1;
}

void CHttpClient::ReleaseHandle()
{
    m_engine->setReady(false);
    abortAll();
    if (m_handle != nullptr)
        curl_easy_cleanup(m_handle); // also writes the cookie file
    m_handle = nullptr;
}

void CHttpClient::DeleteCookieFile() { (void)::unlink(m_cookieFile.c_str()); }

std::size_t CHttpClient::AppendToString(char* data, std::size_t size, std::size_t count,
                                        void* target)
{
    const std::size_t n = size * count;
    if (n == 0)
        return 0;
    auto* text = static_cast<std::string*>(target);
    if (n > kMaxBodyBytes - std::min(text->size(), kMaxBodyBytes))
        return 0;
    text->append(data, n);
    return n;
}

std::size_t CHttpClient::appendToBody(char* data, std::size_t size, std::size_t count, void* target)
{
    const std::size_t n = size * count;
    if (n == 0 || !static_cast<ReplyBody*>(target)->append(data, n, kMaxBodyBytes))
        return 0;
    return n;
}

void CHttpClient::setTimeouts(std::chrono::milliseconds connect, std::chrono::milliseconds transfer)
{
    m_engine->setTimeouts(connect, transfer);
}

std::chrono::milliseconds CHttpClient::connectTimeout() const { return m_engine->connectTimeout(); }

std::chrono::milliseconds CHttpClient::transferTimeout() const
{
    return m_engine->transferTimeout();
}

void CHttpClient::setStallTimeout(std::chrono::seconds stall) { m_engine->setStallTimeout(stall); }

std::string CHttpClient::errorText(int code)
{
    char text[48];
    std::snprintf(text, sizeof text, "open trade error=%d", code);
    return text;
}

std::string CHttpClient::lastError() const
{
    const std::lock_guard<std::mutex> lock(m_errorMutex);
    return m_lastError;
}

void CHttpClient::noteFailure(int code)
{
    const std::lock_guard<std::mutex> lock(m_errorMutex);
    m_lastError = errorText(code);
}

TransferId CHttpClient::start(RequestKind kind, std::string url, const std::string* form,
                              ReplyHandler done, std::optional<int> file, ProgressHandler progress)
{
    auto transfer = std::make_unique<CurlTransfer>();
    if (file) {
        transfer->toFile = true;
        transfer->fd = *file;
        transfer->progress = std::move(progress);
        if (*file < 0) {
            transfer->failure = CURLE_WRITE_ERROR;
            transfer->writeErrno = EBADF;
        }
    }
    transfer->url = std::move(url);
    transfer->post = form != nullptr;
    if (form != nullptr)
        transfer->form = *form;
    // An error page from the data server or the website is no data; the account server and
    // the gateway answer in their bodies whatever the status.
    transfer->statusMatters = kind == RequestKind::DataServer || kind == RequestKind::Version;
    // Every failure is noted before the handler hears of it.
    transfer->done = [this, done = std::move(done)](HttpReply&& reply) {
        if (!reply.ok())
            noteFailure(reply.code);
        if (done)
            done(std::move(reply));
    };
    if (!m_engine->ready())
        transfer->failure = CURLE_BAD_FUNCTION_ARGUMENT;

    const ServiceAddress& service = kind == RequestKind::DataServer ? m_endpoints.dataServer
                                    : kind == RequestKind::Sms      ? m_endpoints.smsGateway
                                                                    : m_endpoints.website;
    // A service whose configured address was malformed is never asked: its account and
    // token must not go anywhere else.
    if (!service.usable() && transfer->failure == CURLE_OK)
        transfer->failure = CURLE_URL_MALFORMAT;
    // The gateway's Host line always names its port.
    const std::string host = service.hostLine(kind == RequestKind::Sms);
    const auto lines = kind == RequestKind::Version
                           ? std::span<const std::string_view>(kVersionHeaders)
                       : kind == RequestKind::DataServer
                           ? std::span<const std::string_view>(kCommonHeaders).first(7)
                           : std::span<const std::string_view>(kCommonHeaders);
    for (std::string_view line : lines) {
        const std::string text =
            line == kHostLine ? std::string(kHostLine) + host : std::string(line);
        if (transfer->failure == CURLE_OK && !transfer->addHeader(text))
            transfer->failure = CURLE_OUT_OF_MEMORY;
    }
    return m_engine->submit(std::move(transfer));
}

TransferId CHttpClient::startQuotes(ReplyHandler done)
{
    return start(RequestKind::DataServer, DataServerBaseUrl(m_endpoints), nullptr, std::move(done));
}

TransferId CHttpClient::startBars(std::string_view query, ReplyHandler done)
{
    return start(RequestKind::DataServer, DataServerBaseUrl(m_endpoints) + std::string(query),
                 nullptr, std::move(done));
}

TransferId CHttpClient::startVersion(ReplyHandler done)
{
    return start(RequestKind::Version, WebsiteUrl(m_endpoints, "/velmora/version.html"), nullptr,
                 std::move(done));
}

namespace {
std::string AccountUrl(const Endpoints& endpoints, AccountRequestKind kind)
{
    std::string path(AccountPath(kind));
    if (kind == AccountRequestKind::Login)
        path += endpoints.accountAccessCode;
    return WebsiteUrl(endpoints, path);
}
} // namespace

TransferId CHttpClient::startAccount(AccountRequestKind kind, std::string form, ReplyHandler done)
{
    return start(RequestKind::Account, AccountUrl(m_endpoints, kind), &form, std::move(done));
}

TransferId CHttpClient::startSms(std::string url, ReplyHandler done)
{
    return start(RequestKind::Sms, std::move(url), nullptr, std::move(done));
}

TransferId CHttpClient::startWebsiteFile(std::string_view path, ReplyHandler done)
{
    return start(RequestKind::Version, WebsiteUrl(m_endpoints, path), nullptr, std::move(done));
}

TransferId CHttpClient::startDownload(std::string_view path, int fd, ProgressHandler progress,
                                      ReplyHandler done)
{
    return start(RequestKind::Version, WebsiteUrl(m_endpoints, path), nullptr, std::move(done), fd,
                 std::move(progress));
}

void CHttpClient::abort(TransferId id) { m_engine->abort(id); }

void CHttpClient::abortAll() { m_engine->abortAll(); }

int CHttpClient::smsStatus(const HttpReply& reply, std::string& status)
{
    if (!reply.ok()) {
        status = errorText(reply.code);
        return -1;
    }
    if (reply.body.view().find("Sucess") != std::string_view::npos) {
        status = "Sucess";
        return 0;
    }
    status = "Error";
    return -1;
}

} // namespace velmora
