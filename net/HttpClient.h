#pragma once

#include "net/Endpoints.h"
#include "net/ReplyBody.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <curl/curl.h>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace velmora {

// What an account-server request does; it selects the URL. Other values post to the root.
enum class AccountRequestKind : int { Register = 1, Modify = 2, Login = 3, Logout = 4 };

// The outcome of one transfer.
struct HttpReply {
    int code = CURLE_OK; // libcurl's result code; CURLE_ABORTED_BY_CALLBACK when aborted
    int osErrno = 0;     // the system's error of a failed connection or file write, else 0
    ReplyBody body;      // after content decoding; empty for a download to a file
    std::string headers;
    std::uint64_t received = 0; // bytes delivered: into the body or the file

    bool ok() const { return code == CURLE_OK; }
};

using TransferId = std::uint64_t;
// Runs once per transfer, on the client's network thread. It must not block: hand the reply
// over to the thread that owns the data and return.
using ReplyHandler = std::function<void(HttpReply&& reply)>;
// The bytes a download has written so far; runs on the network thread and must not block.
using ProgressHandler = std::function<void(std::uint64_t received)>;

class CurlEngine;

// The program's one HTTP client. Transfers run on a network thread of the client's own
// (libcurl's multi interface), any number at a time; all of them share one cookie store, one
// connection cache and the fixed options: HTTP/1.0, the fixed header lines, TLS with
// verification, http and https only, at most 10 redirects, a connect time-out (15 s), a limit
// for a stalled transfer (no byte for 20 s) and for a whole transfer (120 s), and a cap on the
// body.
//
// Each request exists in two forms. StartX returns at once and hands the reply to a handler;
// the program's windows use these. The blocking form (FetchQuotes, ...) waits for the reply
// and answers 0 on success, -1 when the transfer failed; the reason is then in lastError() as
// "open trade error=N" with libcurl's result code N. Blocking requests may come from any
// thread but the network thread, one thread at a time (bodyText() and headerText() are theirs).
class CHttpClient {
public:
    // Names its cookie file "Cookie0.txt" (the program has one client) in `cookieFolder`
    // (created owner-only; the current directory when it is empty or cannot be made), deletes
    // any file of that name left by an earlier run, creates the handle and starts the network
    // thread. A handle that cannot be created makes every request fail with code 43. The
    // caller chooses the folder: the program defaultCookieFolder(), a test one of its own.
    CHttpClient(Endpoints endpoints, const std::filesystem::path& cookieFolder);
    // Aborts every transfer still running (their handlers see the abort), writes the cookie
    // file and stops the network thread.
    ~CHttpClient();
    CHttpClient(const CHttpClient&) = delete;
    CHttpClient& operator=(const CHttpClient&) = delete;

    // The requests, started. An error status of the data server or the website fails the
    // transfer (CURLE_HTTP_RETURNED_ERROR); the account server and the gateway answer in their
    // bodies whatever the status.

    // The quote page: GET of the data server's base URL.
    TransferId startQuotes(ReplyHandler done);
    // A series: GET of the data server's base URL followed by `query` verbatim.
    TransferId startBars(std::string_view query, ReplyHandler done);
    // The version file of the website.
    TransferId startVersion(ReplyHandler done);
    // A form POST to the account server; `form` goes out up to its first NUL byte. Whatever
    // body arrives is the reply, whatever the HTTP status.
    TransferId startAccount(AccountRequestKind kind, std::string form, ReplyHandler done);
    // GET of a complete gateway URL; whatever body arrives is the reply.
    TransferId startSms(std::string url, ReplyHandler done);
    // GET of a small file of the website (`path` starts with '/') into the reply body.
    TransferId startWebsiteFile(std::string_view path, ReplyHandler done);
    // GET of a file of the website written to `fd`, which the caller keeps open until `done`
    // has run; at most kMaxDownloadBytes. A write that fails ends it with CURLE_WRITE_ERROR
    // and the write's errno.
    TransferId startDownload(std::string_view path, int fd, ProgressHandler progress,
                             ReplyHandler done);

    // Ends a transfer that has not finished yet; its handler runs with the abort code. An
    // unknown or finished id is ignored.
    void abort(TransferId id);
    void abortAll();

    // What SendSms makes of a gateway reply: 0 and "Sucess", -1 and "Error", or -1 and the
    // "open trade error=N" text of a failed transfer.
    static int smsStatus(const HttpReply& reply, std::string& status);
    // "open trade error=N".
    static std::string errorText(int code);

    // The text of the last failed transfer, of either form.
    std::string lastError() const;
    const std::string& userAgent() const { return m_userAgent; }
    const std::string& cookieFile() const { return m_cookieFile; }
    const Endpoints& endpoints() const { return m_endpoints; }

    // Limits for setting up a connection (15 s) and for a whole transfer (120 s). Tests
    // shorten them; they apply to transfers started afterwards.
    void setTimeouts(std::chrono::milliseconds connect, std::chrono::milliseconds transfer);
    std::chrono::milliseconds connectTimeout() const;
    std::chrono::milliseconds transferTimeout() const;
    // A transfer that receives nothing for this long (20 s, whole seconds) is given up.
    void setStallTimeout(std::chrono::seconds stall);

    // $XDG_STATE_HOME/velmora (default ~/.local/state/velmora): the program's cookies are no
    // document of the user's, and a program started from the desktop works in the home folder.
    static std::filesystem::path defaultCookieFolder();

    // The largest response body accepted, after content decoding.
    static constexpr std::size_t kMaxBodyBytes = std::size_t{64} << 20;
    // The largest file a download writes.
    static constexpr std::uint64_t kMaxDownloadBytes = std::uint64_t{512} << 20;

    // The blocking forms (HttpClientBlocking.cpp): the same requests, waited for.

    // The quote page. `body` is untouched on failure.
    int FetchQuotes(std::string& body);
    // A series; `body` is untouched on failure.
    int FetchBars(std::string_view query, std::string& body);
    // The version file of the website; empty on failure. The text is this client's body
    // buffer, valid only until the next blocking request.
    const std::string& FetchVersion();
    // An account request; `reply` is untouched on failure.
    int PostAccount(AccountRequestKind kind, const std::string& form, std::string& reply);
    // GET of a complete gateway URL. `status` becomes "Sucess" (0) when the reply contains
    // that byte sequence and "Error" (-1) when it does not, whatever the HTTP status; when the
    // transfer itself failed it becomes the lastError() text (-1).
    int SendSms(const std::string& url, std::string& status);

    // The header lines and the body of the last blocking request; the body is empty when it
    // failed.
    const std::string& headerText() const { return m_headerText; }
    const std::string& bodyText() const { return m_bodyText; }

private:
    enum class RequestKind { DataServer, Account, Sms, Version };

    // Creates the handle (releasing an existing one first) that keeps the cookie store and
    // writes it to the cookie file. Answers 1, or 0 when no handle could be created.
    int InitHandle();
    // Aborts the transfers still running, then releases the handle (which writes the cookie
    // file); until the next InitHandle every request fails with code 43.
    void ReleaseHandle();
    // Deletes the cookie file; a missing file is no error.
    void DeleteCookieFile();

    // libcurl's header callback: appends size × count bytes to the std::string `target` and
    // answers their number. Data that would take the target past kMaxBodyBytes is refused
    // (answer 0), which fails the transfer with code 23.
    static std::size_t AppendToString(char* data, std::size_t size, std::size_t count,
                                      void* target);
    // The same for the ReplyBody of a transfer: libcurl's write callback.
    static std::size_t appendToBody(char* data, std::size_t size, std::size_t count, void* target);

    TransferId start(RequestKind kind, std::string url, const std::string* form, ReplyHandler done,
                     std::optional<int> file = std::nullopt, ProgressHandler progress = {});
    // Starts a request with `startRequest`, waits for its end and answers its reply; also
    // records the body and headers in bodyText() and headerText(). A request from the network
    // thread fails at once.
    HttpReply wait(const std::function<TransferId(ReplyHandler)>& startRequest);
    void noteFailure(int code);

    CURL* m_handle = nullptr; // keeps the cookie file of the shared store
    std::string m_headerText;
    std::string m_bodyText;
    mutable std::mutex m_errorMutex;
    std::string m_lastError;
    std::string m_userAgent;
    std::string m_cookieFile;

    Endpoints m_endpoints;
    std::unique_ptr<CurlEngine> m_engine;
};

} // namespace velmora
