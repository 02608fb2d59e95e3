#pragma once

#include "net/HttpClient.h"

#include <string>
#include <string_view>

namespace velmora {

// Why a transfer failed, in words the user can act on, with libcurl's code and the system's
// errno behind them: "连接被拒绝【7|111】", "等待答复超时【28|0】", or the server's status line
// ("服务器答复 HTTP/1.0 503 Service Unavailable") when it answered with an error status.
// Empty for a transfer that succeeded.
std::string TransferFailureText(const HttpReply& reply);

// The last status line among the received headers ("HTTP/1.0 503 Service Unavailable", after
// redirects the final one), without its line end; empty when none came.
std::string_view LastStatusLine(std::string_view headers);

} // namespace velmora
