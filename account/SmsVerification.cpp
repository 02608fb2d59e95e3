#include "account/SmsVerification.h"

#include "net/UrlEncoding.h"

#include <cerrno>
#include <cstdint>
#include <random>
#include <sys/random.h>

namespace velmora {

std::string SmsSendUrl(const Endpoints& endpoints, std::string_view phones,
                       std::string_view content)
{
    std::string recipients(phones);
    recipients += ';';
    std::string query = "/GateWay/Services.asmx/DirectSend?UserID=";
    query += PercentEncode(endpoints.smsUserId);
    query += "&Account=";
    query += PercentEncode(endpoints.smsAccount);
    query += "&Password=";
    query += PercentEncode(endpoints.smsPassword);
    query += "&Phones=";
    query += PercentEncode(recipients);
    query += "&Content=";
    query += PercentEncode(content);
    query += "&SendTime=&SendType=1&PostFixNumber=";
    return SmsGatewayUrl(endpoints, query);
}

std::string VerificationCodeUrl(const Endpoints& endpoints, std::string_view mobile, int code)
{
    return SmsSendUrl(endpoints, mobile, "验证码：" + std::to_string(code) + "【Tessaly】");
}

std::string StaffNotificationUrl(const Endpoints& endpoints, std::string_view userName)
{
    std::string content = "Velmora用户[";
    content += userName;
    content += "]提交了注册，请帮忙启用激活。【Tessaly】";
    return SmsSendUrl(endpoints, endpoints.staffMobile, content);
}

int DrawVerificationCode()
{
    std::uint16_t r = 0;
    for (;;) {
        const ssize_t n = ::getrandom(&r, sizeof r, 0);
        if (n == static_cast<ssize_t>(sizeof r))
            break;
        if (n < 0 && errno == EINTR)
            continue;
        // A kernel without getrandom: the library's device source is the next best.
        r = static_cast<std::uint16_t>(std::random_device{}());
        break;
    }
    return 108080 + (r & 0x7FFF);
}

bool SmsSent(const HttpReply& reply)
{
    std::string status;
    return CHttpClient::smsStatus(reply, status) == 0;
}

SmsVerification::Request SmsVerification::begin(const Endpoints& endpoints, std::string_view mobile,
                                                Clock::time_point now)
{
    if (mobile.empty())
        return {"手机不能为空!", {}};
    const int code = DrawVerificationCode();
    m_code = std::to_string(code);
    m_mobile = mobile;
    m_sent = now;
    m_spent = false;
    return {{}, VerificationCodeUrl(endpoints, mobile, code)};
}

std::optional<std::string> SmsVerification::refusal(std::string_view typed, std::string_view mobile,
                                                    Clock::time_point now) const
{
    if (m_code.empty())
        return "请先获取手机验证码!";
    if (typed != m_code)
        return "手机验证码错误";
    if (m_spent)
        return "手机验证码已使用过，请重新获取验证码!";
    if (now - m_sent > kLifetime)
        return "手机验证码已过期（10分钟内有效），请重新获取验证码!";
    if (mobile != m_mobile)
        return "手机号码与接收验证码的号码不一致，请重新获取验证码!";
    return std::nullopt;
}

std::string SmsVerification::resultMessage(const HttpReply& reply)
{
    return SmsSent(reply) ? "发送手机验证码成功!" : "发送手机验证码失败!";
}

AccountOutcome SmsVerification::result(const HttpReply& reply)
{
    if (!reply.ok())
        return TransferFailed("发送手机验证码", "短信网关", reply);
    AccountOutcome outcome;
    outcome.message = resultMessage(reply);
    return outcome;
}

} // namespace velmora
