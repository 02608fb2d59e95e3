#pragma once

#include <string>
#include <string_view>

namespace velmora {

// What a document shows: 0..12 the value chart of a catalogue commodity, 13 the quote board,
// 14 the online help page.
using DocKind = int;
inline constexpr DocKind kQuoteBoardKind = 13;
inline constexpr DocKind kHelpKind = 14;

// Commands recognise the quote board by this title.
inline constexpr std::string_view kQuoteBoardTitle =
    "贵金属和直盘外汇行情-本软件行情数据由沈阳raz贵金属业贸易所友情提供!";
inline constexpr std::string_view kHelpTitle = "在线帮助";

inline constexpr std::string_view kProgramName = "Velmora";

} // namespace velmora
