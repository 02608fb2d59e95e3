#include "net/CurlEngine.h"

#include <algorithm>
#include <cerrno>
#include <unistd.h>
#include <utility>

namespace velmora {

bool CurlTransfer::addHeader(const std::string& line)
{
    curl_slist* grown = curl_slist_append(headers.get(), line.c_str());
    if (grown == nullptr)
        return false;
    (void)headers.release();
    headers.reset(grown);
    return true;
}

CurlEngine::CurlEngine(CurlOptions options) : m_options(std::move(options))
{
    m_multi = curl_multi_init();
    m_share = curl_share_init();
    if (m_share != nullptr) {
        curl_share_setopt(m_share, CURLSHOPT_LOCKFUNC, &CurlEngine::lockShare);
        curl_share_setopt(m_share, CURLSHOPT_UNLOCKFUNC, &CurlEngine::unlockShare);
        curl_share_setopt(m_share, CURLSHOPT_USERDATA, this);
        curl_share_setopt(m_share, CURLSHOPT_SHARE, CURL_LOCK_DATA_COOKIE);
    }
    if (m_multi != nullptr)
        m_thread = std::thread([this] { run(); });
}

CurlEngine::~CurlEngine()
{
    stop();
    if (m_multi != nullptr)
        curl_multi_cleanup(m_multi);
    if (m_share != nullptr)
        curl_share_cleanup(m_share);
}

void CurlEngine::stop()
{
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
    }
    if (m_thread.joinable()) {
        curl_multi_wakeup(m_multi);
        m_thread.join();
    }
    // Without a thread (no multi handle) queued transfers still get their answer.
    for (auto& transfer : m_incoming)
        finish(*transfer, CURLE_ABORTED_BY_CALLBACK);
    m_incoming.clear();
}

void CurlEngine::lockShare(CURL*, curl_lock_data data, curl_lock_access, void* self)
{
    static_cast<CurlEngine*>(self)->m_shareLocks[data].lock();
}

void CurlEngine::unlockShare(CURL*, curl_lock_data data, void* self)
{
    static_cast<CurlEngine*>(self)->m_shareLocks[data].unlock();
}

std::size_t CurlEngine::appendToFile(char* data, std::size_t size, std::size_t count, void* self)
{
    auto& t = *static_cast<CurlTransfer*>(self);
    const std::size_t n = size * count;
    constexpr std::uint64_t limit = CHttpClient::kMaxDownloadBytes;
    if (n == 0 || n > limit - std::min(t.reply.received, limit))
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

TransferId CurlEngine::submit(std::unique_ptr<CurlTransfer> transfer)
{
    const TransferId id = transfer->id = m_nextId++;
    bool queued = false;
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_stopping && m_thread.joinable()) {
            m_incoming.push_back(std::move(transfer));
            queued = true;
        }
    }
    if (queued)
        curl_multi_wakeup(m_multi);
    else
        finish(*transfer, CURLE_FAILED_INIT);
    return id;
}

void CurlEngine::abort(TransferId id)
{
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_aborts.push_back(id);
    }
    curl_multi_wakeup(m_multi);
}

void CurlEngine::abortAll()
{
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_abortBelow = m_nextId.load();
    }
    if (m_multi != nullptr)
        curl_multi_wakeup(m_multi);
}

void CurlEngine::setTimeouts(std::chrono::milliseconds connect, std::chrono::milliseconds transfer)
{
    m_connectMs = static_cast<long>(connect.count());
    m_transferMs = static_cast<long>(transfer.count());
}

std::chrono::milliseconds CurlEngine::connectTimeout() const
{
    return std::chrono::milliseconds(m_connectMs.load());
}

std::chrono::milliseconds CurlEngine::transferTimeout() const
{
    return std::chrono::milliseconds(m_transferMs.load());
}

void CurlEngine::setStallTimeout(std::chrono::seconds stall)
{
    m_stallSeconds = static_cast<long>(std::max<std::chrono::seconds::rep>(stall.count(), 1));
}

bool CurlEngine::configure(CurlTransfer& t)
{
    CURL* e = t.easy = curl_easy_init();
    if (e == nullptr)
        return false;
    curl_easy_setopt(e, CURLOPT_PRIVATE, &t);
    curl_easy_setopt(e, CURLOPT_SHARE, m_share);
    // An empty name switches the cookie engine on without reading a file: the store is the
    // shared one, which the client's handle writes to the cookie file.
    curl_easy_setopt(e, CURLOPT_COOKIEFILE, "");
    curl_easy_setopt(e, CURLOPT_USERAGENT, m_options.userAgent.c_str());
    curl_easy_setopt(e, CURLOPT_ACCEPT_ENCODING, "");
    curl_easy_setopt(e, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(e, CURLOPT_SSL_VERIFYHOST, 2L);
    if (!m_options.caFile.empty())
        curl_easy_setopt(e, CURLOPT_CAINFO, m_options.caFile.c_str());
    // Neither a request nor a redirect may reach a file or any other protocol.
    curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(e, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(e, CURLOPT_MAXREDIRS, 10L);
    curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, 1L);
    if (t.toFile) {
        curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, &CurlEngine::appendToFile);
        curl_easy_setopt(e, CURLOPT_WRITEDATA, &t);
    } else {
        curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, m_options.writeBody);
        curl_easy_setopt(e, CURLOPT_WRITEDATA, &t.reply.body);
    }
    curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, m_options.writeHeader);
    curl_easy_setopt(e, CURLOPT_HEADERDATA, &t.reply.headers);
    curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT_MS, m_connectMs.load());
    curl_easy_setopt(e, CURLOPT_TIMEOUT_MS, m_transferMs.load());
    // A peer that accepts and then sends nothing would otherwise hold the transfer for the
    // whole time-out.
    curl_easy_setopt(e, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(e, CURLOPT_LOW_SPEED_TIME, m_stallSeconds.load());
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

void CurlEngine::finish(CurlTransfer& t, int code)
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
            curl_multi_remove_handle(m_multi, t.easy);
        curl_easy_cleanup(t.easy);
        t.easy = nullptr;
    }
    t.reply.code = code;
    if (t.done)
        t.done(std::move(t.reply));
}

void CurlEngine::finishRunning(TransferId id, int code)
{
    const auto found = m_running.find(id);
    if (found == m_running.end())
        return;
    std::unique_ptr<CurlTransfer> transfer = std::move(found->second);
    m_running.erase(found);
    finish(*transfer, code);
}

void CurlEngine::startArrived(std::vector<std::unique_ptr<CurlTransfer>>& arrived)
{
    for (auto& transfer : arrived) {
        if (transfer->failure != CURLE_OK) {
            finish(*transfer, transfer->failure);
            continue;
        }
        if (!configure(*transfer)) {
            finish(*transfer, CURLE_OUT_OF_MEMORY);
            continue;
        }
        if (curl_multi_add_handle(m_multi, transfer->easy) != CURLM_OK) {
            finish(*transfer, CURLE_FAILED_INIT);
            continue;
        }
        transfer->added = true;
        const TransferId id = transfer->id;
        m_running.emplace(id, std::move(transfer));
    }
}

void CurlEngine::run()
{
    TransferId abortedBelow = 0;
    for (;;) {
        std::vector<std::unique_ptr<CurlTransfer>> arrived;
        std::vector<TransferId> toAbort;
        TransferId below = 0;
        bool stop = false;
        {
            const std::lock_guard<std::mutex> lock(m_mutex);
            arrived.swap(m_incoming);
            toAbort.swap(m_aborts);
            below = m_abortBelow;
            stop = m_stopping;
        }
        startArrived(arrived);
        for (TransferId id : toAbort)
            finishRunning(id, CURLE_ABORTED_BY_CALLBACK);
        if (below > abortedBelow || stop) {
            abortedBelow = below;
            std::vector<TransferId> ids;
            for (const auto& [id, transfer] : m_running) {
                if (id < below || stop)
                    ids.push_back(id);
            }
            for (TransferId id : ids)
                finishRunning(id, CURLE_ABORTED_BY_CALLBACK);
        }
        if (stop)
            break;

        int active = 0;
        curl_multi_perform(m_multi, &active);
        int left = 0;
        while (CURLMsg* message = curl_multi_info_read(m_multi, &left)) {
            if (message->msg != CURLMSG_DONE)
                continue;
            CurlTransfer* transfer = nullptr;
            curl_easy_getinfo(message->easy_handle, CURLINFO_PRIVATE, &transfer);
            const int code = message->data.result;
            if (transfer != nullptr)
                finishRunning(transfer->id, code);
        }
        curl_multi_poll(m_multi, nullptr, 0, 1000, nullptr);
    }
}

} // namespace velmora
