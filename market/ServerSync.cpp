#include "market/ServerSync.h"

#include "analysis/AnalysisParams.h"
#include "market/TextNumbers.h"
#include "market/Transfer.h"
#include "net/HttpClient.h"
#include "platform/MessageSink.h"

#include <cstdio>
#include <vector>

namespace velmora {

namespace {

constexpr std::string_view kSeparator = "<br/>";

// The reply with its separators turned into '|' and the count of separators.
std::string Framed(const std::string& body, char lead, int& separators)
{
    std::string text(1, lead);
    if (body.size() > 4)
        text.append(body, 4);
    separators = 0;
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        if (text.compare(i, kSeparator.size(), kSeparator) == 0) {
            out += '|';
            ++separators;
            i += kSeparator.size();
        } else {
            out += text[i++];
        }
    }
    return out;
}

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

void StoreSeriesReply(const std::string& body, BarSeries& series)
{
    int separators = 0;
    const std::string text = Framed(body, '2', separators);
    const int top = separators < kMaxBars ? separators - 1 : kMaxBars - 1;
    int stored = 0;
    std::size_t start = 0;
    std::size_t bar = text.find('|');
    while (bar != std::string::npos && stored <= top) {
        // Each record ends with one terminator character that is not part of it.
        const std::size_t end = bar > start ? bar - 1 : start;
        series.bars[top - stored] = ParseBar(std::string_view(text).substr(start, end - start));
        ++stored;
        start = bar + 1;
        bar = text.find('|', start);
    }
    series.count = stored;
    series.cursor = stored - 1;
}

int SyncSeries(const CommodityEntry& entry, std::string_view lineType, Period period,
               MessageSink& messages)
{
    const int index = FindCommodity(entry.code);
    if (!IsValidCommodity(index)) {
        char text[256];
        std::snprintf(text, sizeof text, "同步失败:商品代码%s|%d错误", entry.code.c_str(), index);
        messages.showMessage(text);
        return -1;
    }
    if (!IsValidPeriod(period) || g_pHttpClient == nullptr)
        return -1;

    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    const std::string query =
        SeriesQuery(entry.code, lineType, local, analysisParams.historyCount[period]);

    std::string body;
    int result = -1;
    RunTransfer([&] { result = g_pHttpClient->FetchBars(query, body); });
    if (result != 0 || body.empty())
        return -1;
    StoreSeriesReply(body, Series(index, period));
    return 0;
}

SyncFailures SyncAllFromServer(MessageSink& messages, const SyncProgress& progress)
{
    constexpr int kRequests = kCommodityCount * kPeriodCount;
    SyncFailures failures;
    bool cancelled = false;
    int done = 0;
    for (int index = 0; index < kCommodityCount && !cancelled; ++index) {
        for (Period period = 0; period < kPeriodCount; ++period) {
            if (progress && !progress(index, period, done, kRequests)) {
                cancelled = true;
                break;
            }
            ++done;
            if (SyncSeries(catalogue[index], PeriodLineType(period), period, messages) != 0) {
                failures.push_back({index, period});
                break;
            }
        }
    }
    messages.showMessage(SyncCompletionMessage(failures, cancelled));
    return failures;
}

} // namespace velmora
