#pragma once

#include "account/Account.h"
#include "net/Endpoints.h"
#include "net/HttpClient.h"

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

namespace velmora {

// The gateway's send request for one message: "/GateWay/Services.asmx/DirectSend" on the SMS
// gateway with UserID, Account, Password, Phones (`phones` followed by ";"), Content, SendTime
// (empty), SendType (1) and PostFixNumber (empty), in this order. Every value goes out as
// percent-encoded UTF-8, so a typed number cannot add or replace a query field. Empty when the
// gateway is not usable.
std::string SmsSendUrl(const Endpoints& endpoints, std::string_view phones,
                       std::string_view content);

// The verification-code message to `mobile`.
std::string VerificationCodeUrl(const Endpoints& endpoints, std::string_view mobile, int code);

// The message that asks the staff to switch on the account just registered as `userName`.
std::string StaffNotificationUrl(const Endpoints& endpoints, std::string_view userName);

// A fresh verification code from 108080 to 108080 + 32767, always six digits. It comes from
// the kernel's random source: a code that the next run (or another user) could predict would
// prove nothing about the phone.
int DrawVerificationCode();

// Whether a gateway reply reports the message as sent.
bool SmsSent(const HttpReply& reply);

// The code sent last from one user center dialog; the dialog owns it, so closing the dialog
// forgets the code and register and modify then need a new one. A code belongs to the number
// it was sent to, serves one request and lasts 10 minutes.
class SmsVerification {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::minutes kLifetime{10};

    // What pressing "获取验证码" does: either a message to show (nothing is sent, the stored
    // code stays) or the URL to send. A URL means that a new code is already stored, whatever
    // becomes of the send.
    struct Request {
        std::string message;
        std::string url;
    };
    Request begin(const Endpoints& endpoints, std::string_view mobile,
                  Clock::time_point now = Clock::now());

    // The message for the reply of the send that Begin asked for.
    static std::string resultMessage(const HttpReply& reply);
    // What the dialog shows for that reply: the message alone, or for a transfer that
    // failed the reason too, in the message and in the status box.
    static AccountOutcome result(const HttpReply& reply);

    // Only the last code sent counts; without one nothing is accepted.
    bool accepts(std::string_view typed) const { return !m_code.empty() && typed == m_code; }
    const std::string& code() const { return m_code; }

    // Why the typed code cannot go with a request for `mobile`; nullopt when it can.
    std::optional<std::string> refusal(std::string_view typed, std::string_view mobile,
                                       Clock::time_point now = Clock::now()) const;
    // The code has gone with a request and serves no other.
    void spend() { m_spent = true; }

private:
    std::string m_code;
    std::string m_mobile;
    Clock::time_point m_sent{};
    bool m_spent = false;
};

} // namespace velmora
