#include "net/TransferFailure.h"

#include "platform/TextCodec.h"

#include <cerrno>
#include <cstdio>

namespace velmora {

namespace {

std::string_view ConnectFailure(int osErrno)
{
    switch (osErrno) {
    case ECONNREFUSED:
        return "连接被拒绝";
    case ENETUNREACH:
    case EHOSTUNREACH:
        return "网络不可达";
    case ETIMEDOUT:
        return "连接超时";
    default:
        return "无法连接服务器";
    }
}

std::string_view Failure(const HttpReply& reply)
{
    switch (reply.code) {
    case CURLE_COULDNT_CONNECT:
        return ConnectFailure(reply.osErrno);
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
        return "找不到服务器";
    case CURLE_OPERATION_TIMEDOUT:
        return "等待答复超时";
    case CURLE_URL_MALFORMAT:
        return "服务器地址无效";
    case CURLE_GOT_NOTHING:
    case CURLE_RECV_ERROR:
    case CURLE_SEND_ERROR:
    case CURLE_PARTIAL_FILE:
        return "连接中断";
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_CERTPROBLEM:
        return "安全连接失败";
    case CURLE_WRITE_ERROR:
        return "答复过大或无法保存";
    case CURLE_HTTP_RETURNED_ERROR:
        return "服务器答复错误状态";
    case CURLE_ABORTED_BY_CALLBACK:
        return "已取消";
    default:
        return "传输失败";
    }
}

} // namespace

std::string_view LastStatusLine(std::string_view headers)
{
    std::string_view last;
    std::size_t at = 0;
    while (at < headers.size()) {
        std::size_t end = headers.find('\n', at);
        if (end == std::string_view::npos)
            end = headers.size();
        std::string_view line = headers.substr(at, end - at);
        if (line.ends_with('\r'))
            line.remove_suffix(1);
        if (line.starts_with("HTTP/"))
            last = line;
        at = end + 1;
    }
    return last;
}

std::string TransferFailureText(const HttpReply& reply)
{
    if (reply.ok())
        return {};
    if (reply.code == CURLE_HTTP_RETURNED_ERROR) {
        if (const std::string_view status = LastStatusLine(reply.headers); !status.empty())
            // The server's text, so kept to one short line of what it can show.
            return "服务器答复 " + EscapeControlBytes(status.substr(0, 80));
    }
    char numbers[32];
    std::snprintf(numbers, sizeof numbers, "【%d|%d】", reply.code, reply.osErrno);
    return std::string(Failure(reply)) + numbers;
}

} // namespace velmora
