#pragma once

#include "market/HstFile.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace velmora::services {

// The data server's pages. Both are a 3-byte preamble (a UTF-8 byte-order mark, which readers
// skip) followed by records, each ending in kTerminator and then kSeparator.
inline constexpr std::string_view kPreamble = "\xEF\xBB\xBF";
inline constexpr char kTerminator = ';';
inline constexpr std::string_view kSeparator = "<br/>";

// One line of the quote page. Prices are written with `digits` decimals.
struct Quote {
    std::string code;
    std::string name; // UTF-8; the page carries it in GBK
    std::int64_t time = 0;
    int digits = 5;
    double last = 0.0;
    double todayOpen = 0.0;
    double prevClose = 0.0;
    double high = 0.0;
    double low = 0.0;
    double bid = 0.0;
    double ask = 0.0;
};

// Records of ten fields: code, name, quote time, last, today's open, previous close, today's
// high, today's low, bid, ask.
std::string FormatQuotePage(std::span<const Quote> quotes);

// Records of six fields, in the order given (the server sends the newest first): bar time,
// open, close, high, low, tick volume.
std::string FormatSeriesPage(std::span<const hst::Bar> bars, int digits);

// "YYYY-MM-DD HH:MM:SS" in the server's local time zone, the form clients store as bar time.
std::string FormatLocalTime(std::int64_t utc);
// The inverse of FormatLocalTime; nullopt for any other text or an impossible date.
std::optional<std::int64_t> ParseLocalTime(std::string_view text);

} // namespace velmora::services
