#include "services/FaultInjector.h"

#include "platform/ExactNumber.h"
#include "platform/Failure.h"

#include <optional>

namespace velmora::services {

namespace {

using ParamFn = std::function<std::optional<std::string>(std::string_view)>;

// Absent is fine; present must be a plain decimal number no larger than `limit`.
bool ReadNumber(const ParamFn& param, std::string_view name, std::size_t limit,
                std::optional<std::size_t>& value, std::string* error)
{
    const std::optional<std::string> text = param(name);
    if (!text)
        return true;
    const std::optional<std::size_t> number = ParseExactNumber<std::size_t>(*text);
    if (!number || *number > limit)
        return Fail(error, std::string(name) + "=" + *text + " is not a number from 0 to " +
                               std::to_string(limit));
    value = *number;
    return true;
}

} // namespace

std::optional<Fault> ParseFault(const ParamFn& param, std::string* error)
{
    constexpr std::size_t kMaxBytes = std::size_t{1} << 40;
    std::optional<std::size_t> delay, status, truncate, closeAfter, rate, times;
    if (!ReadNumber(param, "delay_ms", 600000, delay, error) ||
        !ReadNumber(param, "status", 599, status, error) ||
        !ReadNumber(param, "truncate", kMaxBytes, truncate, error) ||
        !ReadNumber(param, "close_after", kMaxBytes, closeAfter, error) ||
        !ReadNumber(param, "slow_bytes_per_s", kMaxBytes, rate, error) ||
        !ReadNumber(param, "times", 1000000, times, error))
        return std::nullopt;
    if (status && *status < 100) {
        Fail(error, "status=" + std::to_string(*status) + " is not a number from 100 to 599");
        return std::nullopt;
    }

    Fault fault;
    fault.delay = std::chrono::milliseconds(delay.value_or(0));
    fault.status = static_cast<int>(status.value_or(0));
    fault.body = param("body");
    fault.truncate = truncate;
    fault.closeAfter = closeAfter;
    fault.bytesPerSecond = rate.value_or(0);
    fault.times = static_cast<int>(times.value_or(1));
    fault.code = param("only_code").value_or("");
    return fault;
}

void FaultInjector::set(const Fault& fault)
{
    const std::lock_guard lock(m_mutex);
    m_fault = fault;
    m_remaining = fault.times;
}

void FaultInjector::clear()
{
    const std::lock_guard lock(m_mutex);
    m_fault.reset();
    m_remaining = 0;
}

std::optional<Fault> FaultInjector::take(std::string_view code)
{
    const std::lock_guard lock(m_mutex);
    if (!m_fault || (!m_fault->code.empty() && m_fault->code != code))
        return std::nullopt;
    std::optional<Fault> fault = m_fault;
    if (m_remaining > 0 && --m_remaining == 0)
        m_fault.reset();
    return fault;
}

} // namespace velmora::services
