// The blocking forms of the client's requests: each starts its request and waits for the reply.

#include "net/CurlEngine.h"
#include "net/HttpClient.h"

#include <future>
#include <utility>

namespace velmora {

HttpReply CHttpClient::wait(const std::function<TransferId(ReplyHandler)>& startRequest)
{
    HttpReply reply;
    if (m_engine->onNetworkThread()) {
        // A handler that waited for a transfer would wait for itself.
        reply.code = CURLE_RECURSIVE_API_CALL;
        noteFailure(reply.code);
    } else {
        std::promise<HttpReply> promise;
        std::future<HttpReply> result = promise.get_future();
        startRequest([&promise](HttpReply&& done) { promise.set_value(std::move(done)); });
        reply = result.get();
    }
    m_headerText = reply.headers;
    m_bodyText = reply.ok() ? reply.body.str() : std::string();
    return reply;
}

int CHttpClient::FetchQuotes(std::string& body)
{
    const HttpReply reply =
        wait([this](ReplyHandler done) { return startQuotes(std::move(done)); });
    if (!reply.ok())
        return -1;
    body = m_bodyText;
    return 0;
}

int CHttpClient::FetchBars(std::string_view query, std::string& body)
{
    const HttpReply reply =
        wait([this, query](ReplyHandler done) { return startBars(query, std::move(done)); });
    if (!reply.ok())
        return -1;
    body = m_bodyText;
    return 0;
}

const std::string& CHttpClient::FetchVersion()
{
    (void)wait([this](ReplyHandler done) { return startVersion(std::move(done)); });
    return m_bodyText;
}

int CHttpClient::PostAccount(AccountRequestKind kind, const std::string& form, std::string& reply)
{
    const HttpReply answer = wait([this, kind, &form](ReplyHandler done) {
        return startAccount(kind, form, std::move(done));
    });
    if (!answer.ok())
        return -1;
    reply = m_bodyText;
    return 0;
}

int CHttpClient::SendSms(const std::string& url, std::string& status)
{
    const HttpReply reply =
        wait([this, &url](ReplyHandler done) { return startSms(url, std::move(done)); });
    return smsStatus(reply, status);
}

} // namespace velmora
