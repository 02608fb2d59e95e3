#include "market/SeriesReply.h"

#include "market/ReplyFraming.h"
#include "market/TextNumbers.h"

#include <cstdio>
#include <vector>

namespace velmora {

namespace {

BarRecord ParseBar(std::string_view record)
{
    const std::vector<std::string_view> fields = SplitFields(record);
    auto field = [&](std::size_t i) { return i < fields.size() ? fields[i] : std::string_view{}; };
    BarRecord bar;
    bar.time = std::string(field(0));
    bar.open = LeadingDouble(field(1));
    bar.close = LeadingDouble(field(2));
    bar.high = LeadingDouble(field(3));
    bar.low = LeadingDouble(field(4));
    bar.volume = Low32OfTruncated(LeadingDouble(field(5)));
    return bar;
}

} // namespace

std::string SeriesQuery(std::string_view code, std::string_view lineType, const std::tm& t,
                        int count)
{
    char text[256];
    std::snprintf(text, sizeof text,
                  "&code=%.*s&linetype=%.*s&datetime=%04d-%02d-%02d%s%02d%02d:%02d:%02d&count=%d",
                  static_cast<int>(code.size()), code.data(), static_cast<int>(lineType.size()),
                  lineType.data(), t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, "%", 20, t.tm_hour,
                  t.tm_min, t.tm_sec, count);
    return text;
}

void StoreSeriesReply(std::string_view body, BarSeries& series)
{
    const std::size_t records = CountRecords(body);
    // The newest kMaxBars records are kept; the newest goes into the highest slot.
    const int top = records < std::size_t{kMaxBars} ? static_cast<int>(records) - 1 : kMaxBars - 1;
    int stored = 0;
    ForEachRecord(body, '2', [&](std::string_view record) {
        series.bars[top - stored] = ParseBar(record);
        return ++stored <= top;
    });
    series.count = stored;
    series.cursor = stored - 1;
}

} // namespace velmora
