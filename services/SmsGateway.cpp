#include "services/SmsGateway.h"

#include "platform/AsciiText.h"
#include "platform/Failure.h"
#include "platform/TextCodec.h"
#include "services/UtcTime.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <deque>
#include <fcntl.h>
#include <fstream>
#include <sodium.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace velmora::services {

namespace {

constexpr std::size_t kMaxContent = 1000; // bytes of UTF-8
constexpr std::size_t kShown = 50;
// The page reads no more than this of the end of the outbox, however large it grows.
constexpr std::streamoff kTailBytes = 256 * 1024;

bool SameSecret(const std::string& given, const std::string& expected)
{
    return given.size() == expected.size() &&
           sodium_memcmp(given.data(), expected.data(), given.size()) == 0;
}

// "13000000000;" or several numbers, each ended or separated by ';'.
bool ValidPhones(const std::string& phones)
{
    std::size_t digits = 0;
    std::size_t numbers = 0;
    for (const char c : phones) {
        if (c >= '0' && c <= '9') {
            if (++digits > 20)
                return false;
        } else if (c == ';') {
            if (digits < 5)
                return false;
            digits = 0;
            ++numbers;
        } else {
            return false;
        }
    }
    if (digits != 0) {
        if (digits < 5)
            return false;
        ++numbers;
    }
    return numbers > 0 && numbers <= 100;
}

std::string HtmlEscape(std::string_view text)
{
    std::string out;
    for (const char c : text) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        default:
            out += c;
        }
    }
    return out;
}

// One line whatever the text holds: C0 controls and DEL as the byte escapes, and the C1
// controls (U+0080 to U+009F) as \u0080 ... \u009F. The C1 escape is this file's own: its
// lines are UTF-8 text for the outbox page and its readers, and a C1 character there is two
// bytes that the byte escape lets through.
std::string EscapeForOutbox(std::string_view text)
{
    const std::string escaped = EscapeControlBytes(text);
    std::string out;
    out.reserve(escaped.size());
    for (std::size_t i = 0; i < escaped.size(); ++i) {
        const auto byte = static_cast<unsigned char>(escaped[i]);
        const auto next = i + 1 < escaped.size() ? static_cast<unsigned char>(escaped[i + 1]) : 0;
        if (byte == 0xC2 && next >= 0x80 && next <= 0x9F) {
            out += "\\u00";
            out += UpperHexDigit(next >> 4u);
            out += UpperHexDigit(next);
            ++i;
        } else {
            out += escaped[i];
        }
    }
    return out;
}

bool WriteAll(int fd, std::string_view bytes)
{
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

} // namespace

SmsGateway::SmsGateway(SmsGatewayOptions options)
    : m_options(std::move(options)), m_perAddress(m_options.sendsPerAddress, m_options.sendWindow),
      m_perPhone(m_options.sendsPerPhone, m_options.sendWindow),
      m_wrongCredentials(m_options.wrongCredentials, m_options.sendWindow)
{
}

std::int64_t SmsGateway::now() const
{
    if (m_options.clock)
        return m_options.clock();
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

SmsGateway::~SmsGateway() { stop(); }

std::string SmsGateway::url() const { return m_server ? m_server->url(m_options.host) : ""; }

bool SmsGateway::start(std::string* error)
{
    if (m_server)
        return Fail(error, "the SMS gateway is already running");
    if (m_options.outbox.empty())
        return Fail(error, "no outbox file given and no home directory");
    std::error_code ignored;
    if (m_options.outbox.has_parent_path())
        std::filesystem::create_directories(m_options.outbox.parent_path(), ignored);
    // Verification codes: nobody else may read them, also in a file an older server made.
    const int fd =
        ::open(m_options.outbox.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    struct stat file {};
    if (fd < 0 || ::fstat(fd, &file) != 0 ||
        (S_ISREG(file.st_mode) && (file.st_mode & 077) != 0 && ::fchmod(fd, 0600) != 0)) {
        if (fd >= 0)
            ::close(fd);
        return Fail(error, m_options.outbox.string() + ": cannot be written");
    }
    ::close(fd);

    m_server = std::make_unique<GuardedServer>(m_options.limits);
    m_server->set_keep_alive_timeout(1);
    m_server->set_payload_max_length(16 * 1024);
    m_server->Get("/GateWay/Services\\.asmx/DirectSend", [this](const httplib::Request& request,
                                                                httplib::Response& response) {
        std::string refusal;
        const std::string& address = request.remote_addr;
        const std::int64_t current = now();
        if (const std::int64_t wait = m_wrongCredentials.waitFor(address, current); wait > 0) {
            response.status = 429;
            refusal =
                "Error: too many wrong credentials, try again in " + std::to_string(wait) + " s";
        } else if (!SameSecret(request.get_param_value("UserID"), m_options.userId) ||
                   !SameSecret(request.get_param_value("Account"), m_options.account) ||
                   !SameSecret(request.get_param_value("Password"), m_options.password)) {
            m_wrongCredentials.record(address, current);
            response.status = 403;
            refusal = "Error: wrong user id, account or password";
        } else {
            int status = 200;
            refusal = accept(request.get_param_value("Phones"), request.get_param_value("Content"),
                             address, status);
            response.status = status;
        }
        response.set_content(refusal.empty() ? "Sucess" : refusal, "text/plain; charset=utf-8");
    });
    m_server->Get("/outbox", [this](const httplib::Request&, httplib::Response& response) {
        response.set_content(outboxPage(), "text/html; charset=utf-8");
    });
    if (!m_server->startServing(m_options.host, m_options.port, error)) {
        m_server.reset();
        return false;
    }
    m_port = m_server->boundPort();
    return true;
}

void SmsGateway::stop()
{
    if (!m_server)
        return;
    m_server->stopServing();
    m_server.reset();
}

std::string SmsGateway::accept(const std::string& phones, const std::string& content,
                               const std::string& address, int& status)
{
    status = 400;
    if (!ValidPhones(phones))
        return "Error: Phones must be numbers of 5 to 20 digits, each followed by ';'";
    if (content.empty() || content.size() > kMaxContent)
        return "Error: Content must hold 1 to 1000 bytes";
    std::vector<std::string> numbers;
    for (std::size_t start = 0; start < phones.size();) {
        std::size_t end = phones.find(';', start);
        if (end == std::string::npos)
            end = phones.size();
        numbers.push_back(phones.substr(start, end - start));
        start = end + 1;
    }
    {
        // Nothing counts unless the message is let through.
        const std::lock_guard lock(m_limitMutex);
        const std::int64_t current = now();
        status = 429;
        if (const std::int64_t wait = m_perAddress.waitFor(address, current); wait > 0)
            return "Error: too many messages from this address, try again in " +
                   std::to_string(wait) + " s";
        for (const std::string& number : numbers) {
            if (const std::int64_t wait = m_perPhone.waitFor(number, current); wait > 0)
                return "Error: too many messages to " + number + ", try again in " +
                       std::to_string(wait) + " s";
        }
        m_perAddress.record(address, current);
        for (const std::string& number : numbers)
            m_perPhone.record(number, current);
    }
    // Escaped, so that one message stays one line whatever its text holds.
    if (!store(UtcNow() + "\t" + EscapeForOutbox(phones) + "\t" + EscapeForOutbox(content) +
               "\n")) {
        status = 500;
        return "Error: the message could not be stored";
    }
    status = 200;
    return {};
}

bool SmsGateway::store(const std::string& line)
{
    const std::lock_guard lock(m_outboxMutex);
    const int fd = ::open(m_options.outbox.c_str(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    struct stat status {};
    bool stored = ::fstat(fd, &status) == 0;
    const auto size = static_cast<std::size_t>(stored ? status.st_size : 0);
    if (stored && S_ISREG(status.st_mode) && size + line.size() > m_options.maxOutbox) {
        // Keeps the newer half, from a line's start, and adds the message to it; the old file
        // stays until the new one is whole.
        std::string tail(std::min(size, m_options.maxOutbox / 2), '\0');
        const ssize_t got =
            ::pread(fd, tail.data(), tail.size(), static_cast<off_t>(size - tail.size()));
        ::close(fd);
        if (got != static_cast<ssize_t>(tail.size()))
            return false;
        const std::size_t cut = tail.find('\n');
        tail.erase(0, cut == std::string::npos ? tail.size() : cut + 1);
        const std::filesystem::path next = m_options.outbox.string() + ".new";
        const int out = ::open(next.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        stored = out >= 0 && WriteAll(out, tail + line);
        if (out >= 0)
            ::close(out);
        stored = stored && ::rename(next.c_str(), m_options.outbox.c_str()) == 0;
        if (!stored)
            ::unlink(next.c_str());
        return stored;
    }
    // A write cut short (a full disk, a size limit) is taken back, so that the next line
    // never joins a half one.
    if (stored && !WriteAll(fd, line)) {
        stored = false;
        if (S_ISREG(status.st_mode) && ::ftruncate(fd, static_cast<off_t>(size)) != 0)
            std::fprintf(stderr, "velmora-server: %s: a cut message is left at its end\n",
                         m_options.outbox.c_str());
    }
    ::close(fd);
    return stored;
}

std::string SmsGateway::outboxPage()
{
    std::deque<std::string> lines;
    {
        const std::lock_guard lock(m_outboxMutex);
        std::ifstream in(m_options.outbox, std::ios::binary);
        in.seekg(0, std::ios::end);
        const std::streamoff size = in.tellg();
        const bool cut = size > kTailBytes;
        in.seekg(cut ? size - kTailBytes : 0);
        std::string line;
        if (cut)
            std::getline(in, line); // most likely the second half of a line
        while (std::getline(in, line)) {
            lines.push_back(line);
            if (lines.size() > kShown)
                lines.pop_front();
        }
    }
    std::string page = "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>Outbox</title>"
                       "</head><body>\n<h1>Outbox</h1>\n<table>\n"
                       "<tr><th>Time (UTC)</th><th>Phones</th><th>Text</th></tr>\n";
    for (auto line = lines.rbegin(); line != lines.rend(); ++line) {
        std::string_view rest = *line;
        page += "<tr>";
        for (int field = 0; field < 3; ++field) {
            const std::size_t tab = field < 2 ? rest.find('\t') : std::string_view::npos;
            page += "<td>" + HtmlEscape(rest.substr(0, tab)) + "</td>";
            rest = tab == std::string_view::npos ? std::string_view() : rest.substr(tab + 1);
        }
        page += "</tr>\n";
    }
    return page + "</table>\n</body></html>\n";
}

} // namespace velmora::services
