#include "market/Mt4Import.h"

#include "market/BarStore.h"
#include "market/HstFile.h"
#include "platform/MessageSink.h"
#include "platform/PosixFile.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <limits>
#include <unistd.h>
#include <vector>

namespace velmora {

namespace {

constexpr std::string_view kCodeError = "MT4数据自动同步失败：商品代码错";
constexpr std::string_view kPeriodError = "MT4数据自动同步失败：数据类型错";

std::string FileReadError(const std::string& path)
{
    return "MT4数据自动同步失败：读取文件[" + path +
           "]失败,请设置正确的MT4数据目录并及时更新MT4数据";
}

// Reads up to `size` bytes at `offset`; answers the number of bytes read.
std::size_t ReadAt(int fd, unsigned char* buffer, std::size_t size, off_t offset)
{
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n =
            ::pread(fd, buffer + done, size - done, offset + static_cast<off_t>(done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += static_cast<std::size_t>(n);
    }
    return done;
}

// The bar time as the machine's local time. MT4 keeps 64 bits, but only the low 32 carry the
// time the terminal wrote.
std::string LocalTimeText(std::int64_t seconds)
{
    const time_t t = static_cast<std::int32_t>(static_cast<std::uint32_t>(seconds & 0xffffffffu));
    std::tm local{};
    if (localtime_r(&t, &local) == nullptr)
        return {};
    char text[64];
    std::snprintf(text, sizeof text, "%4d.%02d.%02d %02d:%02d:%02d", local.tm_year + 1900,
                  local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
    return text;
}

BarRecord ToBarRecord(const hst::Bar& bar)
{
    BarRecord record;
    record.time = LocalTimeText(bar.time);
    record.open = bar.open;
    record.close = bar.close;
    record.high = bar.high;
    record.low = bar.low;
    record.volume =
        static_cast<std::int32_t>(static_cast<std::uint32_t>(bar.tickVolume & 0xffffffff));
    return record;
}

} // namespace

std::string Mt4HistoryPath(const std::string& directory, std::string_view code, Period period)
{
    std::string path = directory;
    path += '/';
    path += code;
    path += std::to_string(PeriodMt4Suffix(period));
    path += ".hst";
    return path;
}

int ImportMt4Series(BarStore& bars, const CommodityEntry& entry, Period period,
                    const std::string& directory, int historyCount, MessageSink& messages)
{
    const int index = FindCommodity(entry.code);
    if (!IsValidCommodity(index)) {
        messages.showMessage(kCodeError);
        return -1;
    }
    if (!IsValidPeriod(period)) {
        messages.showMessage(kPeriodError);
        return -1;
    }

    const std::string path = Mt4HistoryPath(directory, entry.code, period);
    const ReadableFile file = OpenForReading(path);
    if (!file.ok()) {
        messages.showMessage(FileReadError(path));
        return -1;
    }

    const auto size = static_cast<std::uint64_t>(file.info.st_size);
    BarSeries& series = bars.Series(index, period);
    std::size_t recordSize = hst::kRecordSize401;
    std::int32_t version = hst::kVersion401;
    std::uint64_t available = 0;
    if (size >= hst::kHeaderSize) {
        std::array<unsigned char, 4> versionBytes{};
        if (ReadAt(file.fd.get(), versionBytes.data(), versionBytes.size(), 0) !=
            versionBytes.size())
            return -1;
        version = hst::DecodeVersion(versionBytes);
        recordSize = hst::RecordSize(version);
        if (recordSize == 0) {
            messages.showMessage(FileReadError(path));
            return -1;
        }
        // A terminal still writing its newest bar leaves a partial record at the end; only
        // whole records counted from the header are bars.
        available = (size - hst::kHeaderSize) / recordSize;
    }

    const int wanted = std::clamp(historyCount, 0, kMaxBars);
    const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(wanted, available));
    const off_t first = static_cast<off_t>(hst::kHeaderSize + (available - n) * recordSize);

    std::vector<unsigned char> block(n * recordSize);
    const std::size_t bytesRead = ReadAt(file.fd.get(), block.data(), block.size(), first);
    const std::size_t records = bytesRead / recordSize;

    for (std::size_t k = 0; k < records; ++k) {
        const std::span<const unsigned char> record(block.data() + k * recordSize, recordSize);
        series.bars[k] = ToBarRecord(hst::DecodeRecord(version, record));
    }
    series.count = static_cast<std::int32_t>(records);
    // A cursor that never had a position goes to the newest bar; one kept from an earlier
    // load must still point at a bar.
    if (series.count > 0 && series.cursor <= 0)
        series.cursor = series.count - 1;
    else if (series.cursor > 0 && series.cursor >= series.count)
        series.cursor = series.count - 1;
    bars.notifyChanged(index, period, SeriesChange::Delivered);
    return 0;
}

SyncFailures ImportAllFromMt4(const Catalogue& catalogue, BarStore& bars,
                              const std::string& directory, const PeriodValues& historyCount,
                              MessageSink& messages)
{
    SyncFailures failures;
    if (directory.empty())
        return failures;
    for (int index = 0; index < kCommodityCount; ++index) {
        for (Period period = 0; period < kPeriodCount; ++period) {
            if (ImportMt4Series(bars, catalogue[index], period, directory, historyCount[period],
                                messages) != 0) {
                failures.push_back({index, period});
                break;
            }
        }
    }
    messages.showMessage(SyncCompletionMessage(catalogue, failures));
    return failures;
}

} // namespace velmora
