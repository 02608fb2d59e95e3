#pragma once

// The HTTP client's network thread; used by CHttpClient only.

#include "net/HttpClient.h"

#include <array>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <curl/curl.h>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace velmora {

// One request on its way: what the client asks for, and its reply as it arrives.
struct CurlTransfer {
    struct SlistDeleter {
        void operator()(curl_slist* list) const { curl_slist_free_all(list); }
    };

    // Answers false when libcurl could not copy the line; the request then fails rather than
    // going out with headers missing.
    bool addHeader(const std::string& line);

    TransferId id = 0;
    CURL* easy = nullptr;
    bool added = false;
    std::unique_ptr<curl_slist, SlistDeleter> headers;
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
};

// The fixed options every transfer handle carries.
struct CurlOptions {
    std::string userAgent;
    std::string caFile;
    curl_write_callback writeBody = nullptr;   // into the ReplyBody of the reply
    curl_write_callback writeHeader = nullptr; // into the std::string of the reply's headers
};

// One multi handle driving every transfer on a thread of its own, a share handle for the
// cookies, and a queue through which other threads hand it transfers and aborts. Every
// transfer submitted is answered exactly once, on the network thread, or on the caller's
// when the engine cannot run it.
class CurlEngine {
public:
    explicit CurlEngine(CurlOptions options);
    // Stops, then releases the multi and the share handle.
    ~CurlEngine();
    CurlEngine(const CurlEngine&) = delete;
    CurlEngine& operator=(const CurlEngine&) = delete;

    // Aborts every transfer and ends the thread; the share stays for the client's handle.
    void stop();

    // Gives the transfer an id and queues it; a stopped engine fails it at once.
    TransferId submit(std::unique_ptr<CurlTransfer> transfer);
    void abort(TransferId id);
    // Aborts every transfer submitted so far.
    void abortAll();

    bool onNetworkThread() const { return std::this_thread::get_id() == m_thread.get_id(); }
    // False when libcurl could not make the multi or the share handle.
    bool usable() const { return m_multi != nullptr && m_share != nullptr; }
    CURLSH* share() const { return m_share; }

    // Whether the client holds the handle that keeps the cookie store; the client fails its
    // requests while it does not.
    bool ready() const { return m_ready; }
    void setReady(bool ready) { m_ready = ready; }

    // Limits for the transfers started afterwards.
    void setTimeouts(std::chrono::milliseconds connect, std::chrono::milliseconds transfer);
    std::chrono::milliseconds connectTimeout() const;
    std::chrono::milliseconds transferTimeout() const;
    void setStallTimeout(std::chrono::seconds stall);

private:
    static void lockShare(CURL*, curl_lock_data data, curl_lock_access, void* self);
    static void unlockShare(CURL*, curl_lock_data data, void* self);
    static std::size_t appendToFile(char* data, std::size_t size, std::size_t count, void* self);

    bool configure(CurlTransfer& t);
    void finish(CurlTransfer& t, int code);
    void finishRunning(TransferId id, int code);
    void startArrived(std::vector<std::unique_ptr<CurlTransfer>>& arrived);
    void run();

    CurlOptions m_options;
    CURLM* m_multi = nullptr;
    CURLSH* m_share = nullptr;
    std::array<std::mutex, CURL_LOCK_DATA_LAST> m_shareLocks;
    std::thread m_thread;

    std::mutex m_mutex;
    std::vector<std::unique_ptr<CurlTransfer>> m_incoming;
    std::vector<TransferId> m_aborts;
    TransferId m_abortBelow = 0;
    bool m_stopping = false;
    std::atomic<TransferId> m_nextId{1};
    std::atomic<bool> m_ready{false};

    std::atomic<long> m_connectMs{15000};
    std::atomic<long> m_transferMs{120000};
    std::atomic<long> m_stallSeconds{20};

    // Touched by the network thread only.
    std::map<TransferId, std::unique_ptr<CurlTransfer>> m_running;
};

} // namespace velmora
