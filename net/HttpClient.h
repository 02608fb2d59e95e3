#pragma once

#include "net/Endpoints.h"

#include <chrono>
#include <cstddef>
#include <curl/curl.h>
#include <string>
#include <string_view>

namespace velmora {

// What an account-server request does; it selects the URL. Other values post to the root.
enum class AccountRequestKind : int { Register = 1, Modify = 2, Login = 3, Logout = 4 };

// The program's one HTTP client: a single libcurl easy handle kept for the run, its cookie
// store, and the buffers the current response is collected into. Every operation is
// synchronous and answers 0 on success, -1 when the transfer failed; the reason is then in
// lastError() as "open trade error=N" with libcurl's result code N.
//
// Not for concurrent use: one transfer at a time, from whichever thread runs it. The client
// touches no process-wide state besides g_pHttpClient (and libcurl's global initialisation)
// and the cookie file in the current directory.
class CHttpClient {
public:
    // Registers itself in g_pHttpClient, names its cookie file after the instance counter
    // ("Cookie0.txt" for the first client), deletes any file of that name left by an earlier
    // run and creates the handle. A handle that cannot be created makes every request fail
    // with code 43.
    explicit CHttpClient(Endpoints endpoints = CurrentEndpoints());
    // Writes the cookie file and unregisters itself.
    ~CHttpClient();
    CHttpClient(const CHttpClient&) = delete;
    CHttpClient& operator=(const CHttpClient&) = delete;

    // The quote page: GET of the data server's base URL. `body` is untouched on failure.
    int FetchQuotes(std::string& body);
    // A series: GET of the data server's base URL followed by `query` verbatim.
    int FetchBars(std::string_view query, std::string& body);
    // The version file of the website; empty on failure. The text is this client's body
    // buffer, valid only until the next request.
    const std::string& FetchVersion();
    // A form POST to the account server; `form` goes out up to its first NUL byte. Whatever
    // body arrives is the reply, whatever the HTTP status.
    int PostAccount(AccountRequestKind kind, const std::string& form, std::string& reply);
    // GET of a complete gateway URL. `status` becomes "Sucess" (0) when the reply contains
    // that byte sequence and "Error" (-1) when it does not, whatever the HTTP status; when the
    // transfer itself failed it becomes the lastError() text (-1).
    int SendSms(const std::string& url, std::string& status);

    // Creates the handle (releasing an existing one first) and sets its fixed options.
    // Answers 1, or 0 when no handle could be created.
    int InitHandle();
    void ReleaseHandle();
    // Deletes the cookie file; a missing file is no error.
    void DeleteCookieFile();

    // libcurl's write and header callback: appends size × count bytes to the std::string
    // `target` and answers their number. Data that would take the target past kMaxBodyBytes
    // is refused (answer 0), which fails the transfer with code 23.
    static std::size_t AppendToString(char* data, std::size_t size, std::size_t count,
                                      void* target);

    const std::string& headerText() const { return m_headerText; }
    const std::string& bodyText() const { return m_bodyText; }
    const std::string& lastError() const { return m_lastError; }
    const std::string& userAgent() const { return m_userAgent; }
    const std::string& cookieFile() const { return m_cookieFile; }
    const Endpoints& endpoints() const { return m_endpoints; }

    // Limits for setting up a connection (15 s) and for a whole transfer (120 s). Tests
    // shorten them; they apply from the next request on.
    void setTimeouts(std::chrono::milliseconds connect, std::chrono::milliseconds transfer);
    std::chrono::milliseconds connectTimeout() const { return m_connectTimeout; }
    std::chrono::milliseconds transferTimeout() const { return m_transferTimeout; }

    // The largest response body accepted, after content decoding.
    static constexpr std::size_t kMaxBodyBytes = std::size_t{64} << 20;

private:
    enum class RequestKind { DataServer, Account, Sms, Version };

    // The common request sequence; answers libcurl's result code.
    int perform(RequestKind kind, const std::string& url, const std::string* form);
    int fail(int code);

    CURL* m_handle = nullptr;
    std::string m_headerText;
    std::string m_bodyText;
    std::string m_lastError;
    std::string m_userAgent;
    std::string m_cookieFile;

    Endpoints m_endpoints;
    std::chrono::milliseconds m_connectTimeout{15000};
    std::chrono::milliseconds m_transferTimeout{120000};
    bool m_globalInit = false;
};

// The client, or null before the main frame has created it.
extern CHttpClient* g_pHttpClient;

} // namespace velmora
