#include "net/HttpClient.h"

#include "platform/SettingsStore.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <future>
#include <map>
#include <memory>
#include <span>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

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

// The fixed options every transfer handle carries.
struct FixedOptions {
    std::string userAgent;
    std::string caFile;
};

} // namespace

struct CHttpClient::Transfer {
    TransferId id = 0;
    CURL* easy = nullptr;
    bool added = false;
    HeaderList headers;
    std::string url;
    std::string form;
    bool post = false;
    bool statusMatters = false;
    int failure = CURLE_OK; // failed before it could start
    bool toFile = false;    // a download: the body goes to `fd`
    int fd = -1;
    int writeErrno = 0;
    ProgressHandler progress;
    HttpReply reply;
    ReplyHandler done;

    static std::size_t appendToFile(char* data, std::size_t size, std::size_t count, void* self)
    {
        auto& t = *static_cast<Transfer*>(self);
        const std::size_t n = size * count;
        if (n == 0 || n > kMaxDownloadBytes - std::min(t.reply.received, kMaxDownloadBytes))
            return 0;
        for (std::size_t done = 0; done < n;) {
            const ssize_t wrote = ::write(t.fd, data + done, n - done);
            if (wrote < 0 && errno == EINTR)
                continue;
            if (wrote <= 0) {
                t.writeErrno = wrote < 0 ? errno : ENOSPC;
                return 0;
            }
            done += static_cast<std::size_t>(wrote);
        }
        t.reply.received += n;
        if (t.progress)
            t.progress(t.reply.received);
        return n;
    }
};

// The network thread: one multi handle driving every transfer, a share handle for the
// cookies, and a queue through which other threads hand it transfers and aborts.
struct CHttpClient::Engine {
    explicit Engine(FixedOptions options) : fixed(std::move(options))
    {
        multi = curl_multi_init();
        share = curl_share_init();
        if (share != nullptr) {
            curl_share_setopt(share, CURLSHOPT_LOCKFUNC, &Engine::lockShare);
            curl_share_setopt(share, CURLSHOPT_UNLOCKFUNC, &Engine::unlockShare);
            curl_share_setopt(share, CURLSHOPT_USERDATA, this);
            curl_share_setopt(share, CURLSHOPT_SHARE, CURL_LOCK_DATA_COOKIE);
        }
        if (multi != nullptr)
            thread = std::thread([this] { run(); });
    }

    // Aborts every transfer and ends the thread; the share stays for the client's handle.
    void stop()
    {
        {
            const std::lock_guard<std::mutex> lock(mutex);
            stopping = true;
        }
        if (thread.joinable()) {
            curl_multi_wakeup(multi);
            thread.join();
        }
        // Without a thread (no multi handle) queued transfers still get their answer.
        for (auto& transfer : incoming)
            finish(*transfer, CURLE_ABORTED_BY_CALLBACK);
        incoming.clear();
    }

    ~Engine()
    {
        stop();
        if (multi != nullptr)
            curl_multi_cleanup(multi);
        if (share != nullptr)
            curl_share_cleanup(share);
    }

    static void lockShare(CURL*, curl_lock_data data, curl_lock_access, void* self)
    {
        static_cast<Engine*>(self)->shareLocks[data].lock();
    }
    static void unlockShare(CURL*, curl_lock_data data, void* self)
    {
        static_cast<Engine*>(self)->shareLocks[data].unlock();
    }

    TransferId submit(std::unique_ptr<Transfer> transfer)
    {
        const TransferId id = transfer->id = nextId++;
        bool queued = false;
        {
            const std::lock_guard<std::mutex> lock(mutex);
            if (!stopping && thread.joinable()) {
                incoming.push_back(std::move(transfer));
                queued = true;
            }
        }
        if (queued)
            curl_multi_wakeup(multi);
        else
            finish(*transfer, CURLE_FAILED_INIT);
        return id;
    }

    void abort(TransferId id)
    {
        {
            const std::lock_guard<std::mutex> lock(mutex);
            aborts.push_back(id);
        }
        curl_multi_wakeup(multi);
    }

    void abortAll()
    {
        {
            const std::lock_guard<std::mutex> lock(mutex);
            abortBelow = nextId.load();
        }
        if (multi != nullptr)
            curl_multi_wakeup(multi);
    }

    bool onNetworkThread() const { return std::this_thread::get_id() == thread.get_id(); }

    bool configure(Transfer& t)
    {
        CURL* e = t.easy = curl_easy_init();
        if (e == nullptr)
            return false;
        curl_easy_setopt(e, CURLOPT_PRIVATE, &t);
        curl_easy_setopt(e, CURLOPT_SHARE, share);
        // An empty name switches the cookie engine on without reading a file: the store is
        // the shared one, which the client's handle writes to the cookie file.
        curl_easy_setopt(e, CURLOPT_COOKIEFILE, "");
        curl_easy_setopt(e, CURLOPT_USERAGENT, fixed.userAgent.c_str());
        curl_easy_setopt(e, CURLOPT_ACCEPT_ENCODING, "");
        curl_easy_setopt(e, CURLOPT_SSL_VERIFYPEER, 1L);
        curl_easy_setopt(e, CURLOPT_SSL_VERIFYHOST, 2L);
        if (!fixed.caFile.empty())
            curl_easy_setopt(e, CURLOPT_CAINFO, fixed.caFile.c_str());
        // Neither a request nor a redirect may reach a file or any other protocol.
        curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http,https");
        curl_easy_setopt(e, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
        curl_easy_setopt(e, CURLOPT_MAXREDIRS, 10L);
        curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, 1L);
        if (t.toFile) {
            curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, &Transfer::appendToFile);
            curl_easy_setopt(e, CURLOPT_WRITEDATA, &t);
        } else {
            curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, &CHttpClient::AppendToBody);
            curl_easy_setopt(e, CURLOPT_WRITEDATA, &t.reply.body);
        }
        curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, &CHttpClient::AppendToString);
        curl_easy_setopt(e, CURLOPT_HEADERDATA, &t.reply.headers);
        curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT_MS, connectMs.load());
        curl_easy_setopt(e, CURLOPT_TIMEOUT_MS, transferMs.load());
        // A peer that accepts and then sends nothing would otherwise hold the transfer for
        // the whole time-out.
        curl_easy_setopt(e, CURLOPT_LOW_SPEED_LIMIT, 1L);
        curl_easy_setopt(e, CURLOPT_LOW_SPEED_TIME, stallSeconds.load());
        curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(e, CURLOPT_HTTPHEADER, t.headers.get());
        curl_easy_setopt(e, CURLOPT_URL, t.url.c_str());
        curl_easy_setopt(e, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_0));
        if (t.post) {
            curl_easy_setopt(e, CURLOPT_POST, 1L);
            curl_easy_setopt(e, CURLOPT_POSTFIELDS, t.form.c_str());
        } else {
            curl_easy_setopt(e, CURLOPT_HTTPGET, 1L);
        }
        curl_easy_setopt(e, CURLOPT_FAILONERROR, t.statusMatters ? 1L : 0L);
        return true;
    }

    void finish(Transfer& t, int code)
    {
        if (!t.toFile)
            t.reply.received = t.reply.body.size();
        if (t.writeErrno != 0) {
            t.reply.osErrno = t.writeErrno;
        } else if (t.easy != nullptr && code != CURLE_OK) {
            long osErrno = 0;
            curl_easy_getinfo(t.easy, CURLINFO_OS_ERRNO, &osErrno);
            t.reply.osErrno = static_cast<int>(osErrno);
        }
        if (t.easy != nullptr) {
            if (t.added)
                curl_multi_remove_handle(multi, t.easy);
            curl_easy_cleanup(t.easy);
            t.easy = nullptr;
        }
        t.reply.code = code;
        if (t.done)
            t.done(std::move(t.reply));
    }

    void finishRunning(TransferId id, int code)
    {
        const auto found = running.find(id);
        if (found == running.end())
            return;
        std::unique_ptr<Transfer> transfer = std::move(found->second);
        running.erase(found);
        finish(*transfer, code);
    }

    void run()
    {
        TransferId abortedBelow = 0;
        for (;;) {
            std::vector<std::unique_ptr<Transfer>> arrived;
            std::vector<TransferId> toAbort;
            TransferId below = 0;
            bool stop = false;
            {
                const std::lock_guard<std::mutex> lock(mutex);
                arrived.swap(incoming);
                toAbort.swap(aborts);
                below = abortBelow;
                stop = stopping;
            }
            for (auto& transfer : arrived) {
                if (transfer->failure != CURLE_OK) {
                    finish(*transfer, transfer->failure);
                    continue;
                }
                if (!configure(*transfer)) {
                    finish(*transfer, CURLE_OUT_OF_MEMORY);
                    continue;
                }
                if (curl_multi_add_handle(multi, transfer->easy) != CURLM_OK) {
                    finish(*transfer, CURLE_FAILED_INIT);
                    continue;
                }
                transfer->added = true;
                const TransferId id = transfer->id;
                running.emplace(id, std::move(transfer));
            }
            for (TransferId id : toAbort)
                finishRunning(id, CURLE_ABORTED_BY_CALLBACK);
            if (below > abortedBelow || stop) {
                abortedBelow = below;
                std::vector<TransferId> ids;
                for (const auto& [id, transfer] : running) {
                    if (id < below || stop)
                        ids.push_back(id);
                }
                for (TransferId id : ids)
                    finishRunning(id, CURLE_ABORTED_BY_CALLBACK);
            }
            if (stop)
                break;

            int active = 0;
            curl_multi_perform(multi, &active);
            int left = 0;
            while (CURLMsg* message = curl_multi_info_read(multi, &left)) {
                if (message->msg != CURLMSG_DONE)
                    continue;
                Transfer* transfer = nullptr;
                curl_easy_getinfo(message->easy_handle, CURLINFO_PRIVATE, &transfer);
                const int code = message->data.result;
                if (transfer != nullptr)
                    finishRunning(transfer->id, code);
            }
            curl_multi_poll(multi, nullptr, 0, 1000, nullptr);
        }
    }

    FixedOptions fixed;
    CURLM* multi = nullptr;
    CURLSH* share = nullptr;
    std::array<std::mutex, CURL_LOCK_DATA_LAST> shareLocks;
    std::thread thread;

    std::mutex mutex;
    std::vector<std::unique_ptr<Transfer>> incoming;
    std::vector<TransferId> aborts;
    TransferId abortBelow = 0;
    bool stopping = false;
    std::atomic<TransferId> nextId{1};
    std::atomic<bool> handleReady{false};

    std::atomic<long> connectMs{15000};
    std::atomic<long> transferMs{120000};
    std::atomic<long> stallSeconds{20};

    // Touched by the network thread only.
    std::map<TransferId, std::unique_ptr<Transfer>> running;
};

std::filesystem::path CHttpClient::DefaultCookieFolder()
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
    m_engine = std::make_unique<Engine>(FixedOptions{m_userAgent, m_endpoints.caFile});
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
    if (m_handle == nullptr || m_engine->share == nullptr || m_engine->multi == nullptr)
        return 0;
    PrepareCookieFile(m_cookieFile);
    curl_easy_setopt(m_handle, CURLOPT_SHARE, m_engine->share);
    curl_easy_setopt(m_handle, CURLOPT_COOKIEJAR, m_cookieFile.c_str());
    m_engine->handleReady = true;
    return 1;
}

void CHttpClient::ReleaseHandle()
{
    m_engine->handleReady = false;
    AbortAll();
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

std::size_t CHttpClient::AppendToBody(char* data, std::size_t size, std::size_t count, void* target)
{
    const std::size_t n = size * count;
    if (n == 0 || !static_cast<ReplyBody*>(target)->append(data, n, kMaxBodyBytes))
        return 0;
    return n;
}

void CHttpClient::setTimeouts(std::chrono::milliseconds connect, std::chrono::milliseconds transfer)
{
    m_engine->connectMs = static_cast<long>(connect.count());
    m_engine->transferMs = static_cast<long>(transfer.count());
}

std::chrono::milliseconds CHttpClient::connectTimeout() const
{
    return std::chrono::milliseconds(m_engine->connectMs.load());
}

std::chrono::milliseconds CHttpClient::transferTimeout() const
{
    return std::chrono::milliseconds(m_engine->transferMs.load());
}

void CHttpClient::setStallTimeout(std::chrono::seconds stall)
{
    m_engine->stallSeconds =
        static_cast<long>(std::max<std::chrono::seconds::rep>(stall.count(), 1));
}

std::string CHttpClient::ErrorText(int code)
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
    m_lastError = ErrorText(code);
}

TransferId CHttpClient::start(RequestKind kind, std::string url, const std::string* form,
                              ReplyHandler done, std::optional<int> file, ProgressHandler progress)
{
    auto transfer = std::make_unique<Transfer>();
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
    if (!m_engine->handleReady)
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
        if (transfer->failure == CURLE_OK && !AppendLine(transfer->headers, text))
            transfer->failure = CURLE_OUT_OF_MEMORY;
    }
    return m_engine->submit(std::move(transfer));
}

HttpReply CHttpClient::wait(RequestKind kind, std::string url, const std::string* form)
{
    HttpReply reply;
    if (m_engine->onNetworkThread()) {
        // A handler that waited for a transfer would wait for itself.
        reply.code = CURLE_RECURSIVE_API_CALL;
        noteFailure(reply.code);
    } else {
        std::promise<HttpReply> promise;
        std::future<HttpReply> result = promise.get_future();
        start(kind, std::move(url), form,
              [&promise](HttpReply&& done) { promise.set_value(std::move(done)); });
        reply = result.get();
    }
    m_headerText = reply.headers;
    m_bodyText = reply.ok() ? reply.body.str() : std::string();
    return reply;
}

TransferId CHttpClient::StartQuotes(ReplyHandler done)
{
    return start(RequestKind::DataServer, DataServerBaseUrl(m_endpoints), nullptr, std::move(done));
}

TransferId CHttpClient::StartBars(std::string_view query, ReplyHandler done)
{
    return start(RequestKind::DataServer, DataServerBaseUrl(m_endpoints) + std::string(query),
                 nullptr, std::move(done));
}

TransferId CHttpClient::StartVersion(ReplyHandler done)
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

TransferId CHttpClient::StartAccount(AccountRequestKind kind, std::string form, ReplyHandler done)
{
    return start(RequestKind::Account, AccountUrl(m_endpoints, kind), &form, std::move(done));
}

TransferId CHttpClient::StartSms(std::string url, ReplyHandler done)
{
    return start(RequestKind::Sms, std::move(url), nullptr, std::move(done));
}

TransferId CHttpClient::StartWebsiteFile(std::string_view path, ReplyHandler done)
{
    return start(RequestKind::Version, WebsiteUrl(m_endpoints, path), nullptr, std::move(done));
}

TransferId CHttpClient::StartDownload(std::string_view path, int fd, ProgressHandler progress,
                                      ReplyHandler done)
{
    return start(RequestKind::Version, WebsiteUrl(m_endpoints, path), nullptr, std::move(done), fd,
                 std::move(progress));
}

void CHttpClient::Abort(TransferId id) { m_engine->abort(id); }

void CHttpClient::AbortAll() { m_engine->abortAll(); }

int CHttpClient::SmsStatus(const HttpReply& reply, std::string& status)
{
    if (!reply.ok()) {
        status = ErrorText(reply.code);
        return -1;
    }
    if (reply.body.view().find("Sucess") != std::string_view::npos) {
        status = "Sucess";
        return 0;
    }
    status = "Error";
    return -1;
}

int CHttpClient::FetchQuotes(std::string& body)
{
    const HttpReply reply = wait(RequestKind::DataServer, DataServerBaseUrl(m_endpoints), nullptr);
    if (!reply.ok())
        return -1;
    body = m_bodyText;
    return 0;
}

int CHttpClient::FetchBars(std::string_view query, std::string& body)
{
    const HttpReply reply =
        wait(RequestKind::DataServer, DataServerBaseUrl(m_endpoints) + std::string(query), nullptr);
    if (!reply.ok())
        return -1;
    body = m_bodyText;
    return 0;
}

const std::string& CHttpClient::FetchVersion()
{
    (void)wait(RequestKind::Version, WebsiteUrl(m_endpoints, "/velmora/version.html"), nullptr);
    return m_bodyText;
}

int CHttpClient::PostAccount(AccountRequestKind kind, const std::string& form, std::string& reply)
{
    const HttpReply answer = wait(RequestKind::Account, AccountUrl(m_endpoints, kind), &form);
    if (!answer.ok())
        return -1;
    reply = m_bodyText;
    return 0;
}

int CHttpClient::SendSms(const std::string& url, std::string& status)
{
    const HttpReply reply = wait(RequestKind::Sms, url, nullptr);
    return SmsStatus(reply, status);
}

} // namespace velmora
