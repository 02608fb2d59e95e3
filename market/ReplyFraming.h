#pragma once

#include <cstddef>
#include <functional>
#include <string_view>

namespace velmora {

// The framing of the data server's replies: the first four bytes stand for one lead character
// of the caller's, "<br/>" follows every record, and each record ends in one terminator
// character that is not part of it. Text after the last separator is no record.
//
// Calls `record` for each record in order until it answers false; the record text is a view
// into `body` (the first one, which carries the lead character, into a small copy of its
// own), so a large reply is never copied. Answers the number of records visited.
std::size_t ForEachRecord(std::string_view body, char lead,
                          const std::function<bool(std::string_view record)>& record);

// The number of separators in a reply, read as ForEachRecord reads it.
std::size_t CountRecords(std::string_view body);

} // namespace velmora
