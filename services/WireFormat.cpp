#include "services/WireFormat.h"

#include "market/BarRollover.h"
#include "platform/LocalTime.h"
#include "platform/TextCodec.h"

#include <cstdio>
#include <ctime>

namespace velmora::services {

namespace {

void AppendPrice(std::string& out, double value, int digits)
{
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", digits, value);
    out += text;
}

void EndRecord(std::string& out)
{
    out += kTerminator;
    out += kSeparator;
}

} // namespace

std::string FormatQuotePage(std::span<const Quote> quotes)
{
    std::string out(kPreamble);
    for (const Quote& quote : quotes) {
        out += quote.code;
        out += ',';
        out += Utf8ToGbk(quote.name);
        out += ',';
        out += FormatLocalTime(quote.time);
        for (double price : {quote.last, quote.todayOpen, quote.prevClose, quote.high, quote.low,
                             quote.bid, quote.ask}) {
            out += ',';
            AppendPrice(out, price, quote.digits);
        }
        EndRecord(out);
    }
    return out;
}

std::string FormatSeriesPage(std::span<const hst::Bar> bars, int digits)
{
    std::string out(kPreamble);
    out.reserve(out.size() + bars.size() * 64);
    for (const hst::Bar& bar : bars) {
        out += FormatLocalTime(bar.time);
        for (double price : {bar.open, bar.close, bar.high, bar.low}) {
            out += ',';
            AppendPrice(out, price, digits);
        }
        out += ',';
        out += std::to_string(bar.tickVolume);
        EndRecord(out);
    }
    return out;
}

std::string FormatLocalTime(std::int64_t utc)
{
    return LocalTimeText(static_cast<std::time_t>(utc), "%Y-%m-%d %H:%M:%S");
}

std::optional<std::int64_t> ParseLocalTime(std::string_view text)
{
    if (text.size() != 19 || text[4] != '-' || text[7] != '-' || text[10] != ' ' ||
        text[13] != ':' || text[16] != ':')
        return std::nullopt;
    const std::optional<BarClock> clock = ReadBarClock(text);
    if (!clock || clock->year < 1970)
        return std::nullopt;
    const auto [year, month, day, hour, minute, second] = *clock;

    std::tm fields{};
    fields.tm_year = year - 1900;
    fields.tm_mon = month - 1;
    fields.tm_mday = day;
    fields.tm_hour = hour;
    fields.tm_min = minute;
    fields.tm_sec = second;
    fields.tm_isdst = -1;
    const std::time_t t = std::mktime(&fields);
    // mktime rolls 31 April over into May; such a date is no date.
    if (t == static_cast<std::time_t>(-1) || fields.tm_mday != day || fields.tm_mon != month - 1)
        return std::nullopt;
    return static_cast<std::int64_t>(t);
}

} // namespace velmora::services
