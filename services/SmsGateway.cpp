#include "services/SmsGateway.h"

#include "platform/TextCodec.h"
#include "services/UtcTime.h"

#include <algorithm>
#include <ctime>
#include <deque>
#include <fstream>
#include <sodium.h>

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

} // namespace

SmsGateway::SmsGateway(SmsGatewayOptions options) : m_options(std::move(options)) {}

SmsGateway::~SmsGateway() { stop(); }

std::string SmsGateway::url() const { return m_server ? m_server->url(m_options.host) : ""; }

bool SmsGateway::start(std::string& error)
{
    if (m_server) {
        error = "the SMS gateway is already running";
        return false;
    }
    if (m_options.outbox.empty()) {
        error = "no outbox file given and no home directory";
        return false;
    }
    std::error_code ignored;
    if (m_options.outbox.has_parent_path())
        std::filesystem::create_directories(m_options.outbox.parent_path(), ignored);
    if (!std::ofstream(m_options.outbox, std::ios::app)) {
        error = m_options.outbox.string() + ": cannot be written";
        return false;
    }

    m_server = std::make_unique<GuardedServer>(m_options.limits);
    m_server->set_keep_alive_timeout(1);
    m_server->set_payload_max_length(16 * 1024);
    m_server->Get("/GateWay/Services\\.asmx/DirectSend", [this](const httplib::Request& request,
                                                                httplib::Response& response) {
        std::string refusal;
        if (!SameSecret(request.get_param_value("UserID"), m_options.userId) ||
            !SameSecret(request.get_param_value("Account"), m_options.account) ||
            !SameSecret(request.get_param_value("Password"), m_options.password)) {
            response.status = 403;
            refusal = "Error: wrong user id, account or password";
        } else {
            refusal = accept(request.get_param_value("Phones"), request.get_param_value("Content"));
            if (!refusal.empty())
                response.status = 400;
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

std::string SmsGateway::accept(const std::string& phones, const std::string& content)
{
    if (!ValidPhones(phones))
        return "Error: Phones must be numbers of 5 to 20 digits, each followed by ';'";
    if (content.empty() || content.size() > kMaxContent)
        return "Error: Content must hold 1 to 1000 bytes";
    // Escaped, so that one message stays one line whatever its text holds.
    const std::string line =
        UtcNow() + "\t" + EscapeControlBytes(phones) + "\t" + EscapeControlBytes(content) + "\n";
    const std::lock_guard lock(m_outboxMutex);
    std::ofstream out(m_options.outbox, std::ios::app | std::ios::binary);
    out << line;
    out.flush();
    if (!out)
        return "Error: the message could not be stored";
    return {};
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
