#include "market/HstFile.h"

#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstring>
#include <fstream>

namespace velmora::hst {

static_assert(std::endian::native == std::endian::little, "the file layout is little-endian");

namespace {

template <typename T> T load(std::span<const unsigned char> bytes, std::size_t offset)
{
    T value;
    std::memcpy(&value, bytes.data() + offset, sizeof(T));
    return value;
}

template <typename T> void store(std::vector<unsigned char>& out, T value)
{
    const std::size_t at = out.size();
    out.resize(at + sizeof(T));
    std::memcpy(out.data() + at, &value, sizeof(T));
}

void storeText(std::vector<unsigned char>& out, std::string_view text, std::size_t width)
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
    return load<std::int32_t>(bytes, 0);
}

Bar DecodeRecord(std::int32_t version, std::span<const unsigned char> record)
{
    Bar bar;
    if (version == kVersion400) {
        bar.time = load<std::int32_t>(record, 0);
        bar.open = load<double>(record, 4);
        bar.low = load<double>(record, 12);
        bar.high = load<double>(record, 20);
        bar.close = load<double>(record, 28);
        const double volume = load<double>(record, 36);
        // Volumes are whole tick counts stored as doubles; keep anything odd in range.
        if (volume >= -9.2e18 && volume <= 9.2e18)
            bar.tickVolume = static_cast<std::int64_t>(volume);
        return bar;
    }
    bar.time = load<std::int64_t>(record, 0);
    bar.open = load<double>(record, 8);
    bar.high = load<double>(record, 16);
    bar.low = load<double>(record, 24);
    bar.close = load<double>(record, 32);
    bar.tickVolume = load<std::int64_t>(record, 40);
    bar.spread = load<std::int32_t>(record, 48);
    bar.realVolume = load<std::int64_t>(record, 52);
    return bar;
}

std::vector<unsigned char> EncodeFile(const Header& header, std::span<const Bar> bars)
{
    std::vector<unsigned char> out;
    out.reserve(kHeaderSize + bars.size() * kRecordSize401);
    store<std::int32_t>(out, header.version);
    storeText(out, header.copyright, 64);
    storeText(out, header.symbol, 12);
    store<std::int32_t>(out, header.period);
    store<std::int32_t>(out, header.digits);
    store<std::int32_t>(out, header.timeSign);
    store<std::int32_t>(out, header.lastSync);
    out.insert(out.end(), 13 * sizeof(std::int32_t), 0);

    for (const Bar& bar : bars) {
        if (header.version == kVersion400) {
            store<std::int32_t>(out, static_cast<std::int32_t>(bar.time));
            store<double>(out, bar.open);
            store<double>(out, bar.low);
            store<double>(out, bar.high);
            store<double>(out, bar.close);
            store<double>(out, static_cast<double>(bar.tickVolume));
        } else {
            store<std::int64_t>(out, bar.time);
            store<double>(out, bar.open);
            store<double>(out, bar.high);
            store<double>(out, bar.low);
            store<double>(out, bar.close);
            store<std::int64_t>(out, bar.tickVolume);
            store<std::int32_t>(out, bar.spread);
            store<std::int64_t>(out, bar.realVolume);
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
