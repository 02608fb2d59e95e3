#include "market/HstFile.h"

#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstring>
#include <fstream>

namespace velmora::hst {

static_assert(std::endian::native == std::endian::little, "the file layout is little-endian");

namespace {

template <typename T> T Load(std::span<const unsigned char> bytes, std::size_t offset)
{
    T value;
    std::memcpy(&value, bytes.data() + offset, sizeof(T));
    return value;
}

template <typename T> void Store(std::vector<unsigned char>& out, T value)
{
    const std::size_t at = out.size();
    out.resize(at + sizeof(T));
    std::memcpy(out.data() + at, &value, sizeof(T));
}

void StoreText(std::vector<unsigned char>& out, std::string_view text, std::size_t width)
{
    const std::size_t at = out.size();
    out.resize(at + width, 0);
    std::memcpy(out.data() + at, text.data(), std::min(text.size(), width - 1));
}

} // namespace

std::size_t RecordSize(std::int32_t version)
{
    switch (version) {
    case kVersion400:
        return kRecordSize400;
    case kVersion401:
        return kRecordSize401;
    default:
        return 0;
    }
}

std::int32_t DecodeVersion(std::span<const unsigned char, 4> bytes)
{
    return Load<std::int32_t>(bytes, 0);
}

Bar DecodeRecord(std::int32_t version, std::span<const unsigned char> record)
{
    Bar bar;
    if (version == kVersion400) {
        bar.time = Load<std::int32_t>(record, 0);
        bar.open = Load<double>(record, 4);
        bar.low = Load<double>(record, 12);
        bar.high = Load<double>(record, 20);
        bar.close = Load<double>(record, 28);
        const double volume = Load<double>(record, 36);
        // Volumes are whole tick counts stored as doubles; keep anything odd in range.
        if (volume >= -9.2e18 && volume <= 9.2e18)
            bar.tickVolume = static_cast<std::int64_t>(volume);
        return bar;
    }
    bar.time = Load<std::int64_t>(record, 0);
    bar.open = Load<double>(record, 8);
    bar.high = Load<double>(record, 16);
    bar.low = Load<double>(record, 24);
    bar.close = Load<double>(record, 32);
    bar.tickVolume = Load<std::int64_t>(record, 40);
    bar.spread = Load<std::int32_t>(record, 48);
    bar.realVolume = Load<std::int64_t>(record, 52);
    return bar;
}

std::vector<unsigned char> EncodeFile(const Header& header, std::span<const Bar> bars)
{
    std::vector<unsigned char> out;
    out.reserve(kHeaderSize + bars.size() * kRecordSize401);
    Store<std::int32_t>(out, header.version);
    StoreText(out, header.copyright, 64);
    StoreText(out, header.symbol, 12);
    Store<std::int32_t>(out, header.period);
    Store<std::int32_t>(out, header.digits);
    Store<std::int32_t>(out, header.timeSign);
    Store<std::int32_t>(out, header.lastSync);
    out.insert(out.end(), 13 * sizeof(std::int32_t), 0);

    for (const Bar& bar : bars) {
        if (header.version == kVersion400) {
            Store<std::int32_t>(out, static_cast<std::int32_t>(bar.time));
            Store<double>(out, bar.open);
            Store<double>(out, bar.low);
            Store<double>(out, bar.high);
            Store<double>(out, bar.close);
            Store<double>(out, static_cast<double>(bar.tickVolume));
        } else {
            Store<std::int64_t>(out, bar.time);
            Store<double>(out, bar.open);
            Store<double>(out, bar.high);
            Store<double>(out, bar.low);
            Store<double>(out, bar.close);
            Store<std::int64_t>(out, bar.tickVolume);
            Store<std::int32_t>(out, bar.spread);
            Store<std::int64_t>(out, bar.realVolume);
        }
    }
    return out;
}

bool WriteFile(const std::string& path, const Header& header, std::span<const Bar> bars)
{
    const std::vector<unsigned char> bytes = EncodeFile(header, bars);
    const std::string temporary = path + ".part";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        if (!out)
            return false;
        out.write(reinterpret_cast<const char*>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size()));
        out.flush();
        if (!out) {
            std::remove(temporary.c_str());
            return false;
        }
    }
    if (std::rename(temporary.c_str(), path.c_str()) != 0) {
        std::remove(temporary.c_str());
        return false;
    }
    return true;
}

} // namespace velmora::hst
