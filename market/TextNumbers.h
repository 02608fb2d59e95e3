#pragma once

#include "platform/ExactNumber.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace velmora {

// The leading decimal number of a text, as the wire formats are read: blanks and a sign
// first, then digits; 0 when there is none. Independent of the C locale.
double LeadingDouble(std::string_view text);

// The leading integer of a text: blanks, an optional sign, decimal digits; 0 when there are
// none. Values beyond 32 bits are held at the nearest limit.
std::int32_t LeadingInt32(std::string_view text);

// Truncates toward zero and keeps the low 32 bits; NaN and values beyond 64 bits give 0.
std::int32_t Low32OfTruncated(double value);

// The comma-separated fields of a record.
std::vector<std::string_view> SplitFields(std::string_view record);

// A number with `decimals` digits after a ".", as printf's "%.*f" writes it in the C locale,
// whatever locale the program runs in.
std::string FixedDecimals(double value, int decimals);

// A price as the quote texts carry it: "%.03f" from 10 on, "%.05f" below.
std::string FormatQuotePrice(double value);

} // namespace velmora
