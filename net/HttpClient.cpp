#include "net/HttpClient.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <fcntl.h>
#include <memory>
#include <span>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace velmora {

CHttpClient* g_pHttpClient = nullptr;

namespace {

int g_instanceCounter = 0;

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

struct SlistDeleter {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using HeaderList = std::unique_ptr<curl_slist, SlistDeleter>;

// Answers false when libcurl could not copy a line; the request then fails rather than going
// out with headers missing.
bool AppendLine(HeaderList& list, const std::string& line)
{
    curl_slist* grown = curl_slist_append(list.get(), line.c_str());
    if (grown == nullptr)
        return false;
    (void)list.release();
    list.reset(grown);
    return true;
}

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

CHttpClient::CHttpClient(Endpoints endpoints) : m_endpoints(std::move(endpoints))
{
    g_pHttpClient = this;
    m_userAgent = kDefaultUserAgent;
    m_cookieFile = "Cookie" + std::to_string(g_instanceCounter++) + ".txt";
    DeleteCookieFile();
    InitHandle();
}

CHttpClient::~CHttpClient()
{
    ReleaseHandle();
    if (g_pHttpClient == this)
        g_pHttpClient = nullptr;
}

int CHttpClient::InitHandle()
{
    if (m_handle != nullptr || m_globalInit)
        ReleaseHandle();
    (void)curl_global_init(CURL_GLOBAL_ALL);
    m_globalInit = true;
    m_handle = curl_easy_init();
    if (m_handle == nullptr)
        return 0;

    PrepareCookieFile(m_cookieFile);
    curl_easy_setopt(m_handle, CURLOPT_USERAGENT, m_userAgent.c_str());
    curl_easy_setopt(m_handle, CURLOPT_ACCEPT_ENCODING, "");
    curl_easy_setopt(m_handle, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(m_handle, CURLOPT_SSL_VERIFYHOST, 2L);
    if (!m_endpoints.caFile.empty())
        curl_easy_setopt(m_handle, CURLOPT_CAINFO, m_endpoints.caFile.c_str());
    // Neither a request nor a redirect may reach a file or any other protocol.
    curl_easy_setopt(m_handle, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(m_handle, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(m_handle, CURLOPT_COOKIEFILE, m_cookieFile.c_str());
    curl_easy_setopt(m_handle, CURLOPT_COOKIEJAR, m_cookieFile.c_str());
    curl_easy_setopt(m_handle, CURLOPT_MAXREDIRS, 10L);
    curl_easy_setopt(m_handle, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(m_handle, CURLOPT_WRITEFUNCTION, &CHttpClient::AppendToString);
    curl_easy_setopt(m_handle, CURLOPT_WRITEDATA, &m_bodyText);
    curl_easy_setopt(m_handle, CURLOPT_HEADERFUNCTION, &CHttpClient::AppendToString);
    curl_easy_setopt(m_handle, CURLOPT_HEADERDATA, &m_headerText);
    curl_easy_setopt(m_handle, CURLOPT_CONNECTTIMEOUT_MS,
                     static_cast<long>(m_connectTimeout.count()));
    curl_easy_setopt(m_handle, CURLOPT_TIMEOUT_MS, static_cast<long>(m_transferTimeout.count()));
    curl_easy_setopt(m_handle, CURLOPT_NOSIGNAL, 1L);
    return 1;
}

void CHttpClient::ReleaseHandle()
{
    if (m_handle != nullptr)
        curl_easy_cleanup(m_handle); // also writes the cookie file
    m_handle = nullptr;
    if (m_globalInit)
        curl_global_cleanup();
    m_globalInit = false;
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

void CHttpClient::setTimeouts(std::chrono::milliseconds connect, std::chrono::milliseconds transfer)
{
    m_connectTimeout = connect;
    m_transferTimeout = transfer;
    if (m_handle != nullptr) {
        curl_easy_setopt(m_handle, CURLOPT_CONNECTTIMEOUT_MS,
                         static_cast<long>(m_connectTimeout.count()));
        curl_easy_setopt(m_handle, CURLOPT_TIMEOUT_MS,
                         static_cast<long>(m_transferTimeout.count()));
    }
}

int CHttpClient::fail(int code)
{
    char text[48];
    std::snprintf(text, sizeof text, "open trade error=%d", code);
    m_lastError = text;
    return code;
}

int CHttpClient::perform(RequestKind kind, const std::string& url, const std::string* form)
{
    m_bodyText.clear();
    m_headerText.clear();
    if (m_handle == nullptr)
        return fail(CURLE_BAD_FUNCTION_ARGUMENT);

    const ServiceAddress& service = kind == RequestKind::DataServer ? m_endpoints.dataServer
                                    : kind == RequestKind::Sms      ? m_endpoints.smsGateway
                                                                    : m_endpoints.website;
    // The gateway's Host line always names its port.
    const std::string host = service.hostLine(kind == RequestKind::Sms);
    HeaderList headers;
    const auto lines = kind == RequestKind::Version
                           ? std::span<const std::string_view>(kVersionHeaders)
                       : kind == RequestKind::DataServer
                           ? std::span<const std::string_view>(kCommonHeaders).first(7)
                           : std::span<const std::string_view>(kCommonHeaders);
    for (std::string_view line : lines) {
        const std::string text =
            line == kHostLine ? std::string(kHostLine) + host : std::string(line);
        if (!AppendLine(headers, text))
            return fail(CURLE_OUT_OF_MEMORY);
    }

    curl_easy_setopt(m_handle, CURLOPT_HTTPHEADER, headers.get());
    curl_easy_setopt(m_handle, CURLOPT_URL, url.c_str());
    curl_easy_setopt(m_handle, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_0));
    if (form != nullptr) {
        curl_easy_setopt(m_handle, CURLOPT_POST, 1L);
        curl_easy_setopt(m_handle, CURLOPT_POSTFIELDS, form->c_str());
        curl_easy_setopt(m_handle, CURLOPT_FOLLOWLOCATION, 1L);
    } else {
        // The handle would otherwise keep the POST of an earlier account request.
        curl_easy_setopt(m_handle, CURLOPT_HTTPGET, 1L);
    }
    // An error page from the data server or the website is no data; the account server and
    // the gateway answer in their bodies whatever the status.
    const bool statusMatters = kind == RequestKind::DataServer || kind == RequestKind::Version;
    curl_easy_setopt(m_handle, CURLOPT_FAILONERROR, statusMatters ? 1L : 0L);

    const CURLcode result = curl_easy_perform(m_handle);
    curl_easy_setopt(m_handle, CURLOPT_HTTPHEADER, nullptr);
    if (result != CURLE_OK)
        return fail(result);
    return CURLE_OK;
}

int CHttpClient::FetchQuotes(std::string& body)
{
    if (perform(RequestKind::DataServer, DataServerBaseUrl(m_endpoints), nullptr) != CURLE_OK)
        return -1;
    body = m_bodyText;
    return 0;
}

int CHttpClient::FetchBars(std::string_view query, std::string& body)
{
    const std::string url = DataServerBaseUrl(m_endpoints) + std::string(query);
    if (perform(RequestKind::DataServer, url, nullptr) != CURLE_OK)
        return -1;
    body = m_bodyText;
    return 0;
}

const std::string& CHttpClient::FetchVersion()
{
    if (perform(RequestKind::Version, WebsiteUrl(m_endpoints, "/velmora/version.html"), nullptr) !=
        CURLE_OK)
        m_bodyText.clear();
    return m_bodyText;
}

int CHttpClient::PostAccount(AccountRequestKind kind, const std::string& form, std::string& reply)
{
    std::string path(AccountPath(kind));
    if (kind == AccountRequestKind::Login)
        path += m_endpoints.accountAccessCode;
    if (perform(RequestKind::Account, WebsiteUrl(m_endpoints, path), &form) != CURLE_OK)
        return -1;
    reply = m_bodyText;
    return 0;
}

int CHttpClient::SendSms(const std::string& url, std::string& status)
{
    if (perform(RequestKind::Sms, url, nullptr) != CURLE_OK) {
        status = m_lastError;
        return -1;
    }
    status = m_bodyText;
    if (status.find("Sucess") != std::string::npos) {
        status = "Sucess";
        return 0;
    }
    status = "Error";
    return -1;
}

} // namespace velmora
