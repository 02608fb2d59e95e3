#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace velmora {

// The history files of an MT4 terminal: a 148-byte header, then the bars oldest first,
// little-endian, packed.
namespace hst {

inline constexpr std::size_t kHeaderSize = 148;
inline constexpr std::int32_t kVersion400 = 400; // 44-byte bars
inline constexpr std::int32_t kVersion401 = 401; // 60-byte bars
inline constexpr std::size_t kRecordSize400 = 44;
inline constexpr std::size_t kRecordSize401 = 60;

// Record size for a header version, 0 for a version we do not read.
std::size_t RecordSize(std::int32_t version);

struct Bar {
    std::int64_t time = 0; // seconds since 1970-01-01 00:00 UTC
    double open = 0.0;
    double high = 0.0;
    double low = 0.0;
    double close = 0.0;
    std::int64_t tickVolume = 0;
    std::int32_t spread = 0;
    std::int64_t realVolume = 0;
};

struct Header {
    std::int32_t version = kVersion401;
    std::string copyright;   // up to 63 bytes
    std::string symbol;      // up to 11 bytes
    std::int32_t period = 0; // minutes
    std::int32_t digits = 0;
    std::int32_t timeSign = 0;
    std::int32_t lastSync = 0;
};

// Decodes one record of the given version. A version-400 record holds a 32-bit time, then
// open, low, high, close and the volume as doubles.
Bar DecodeRecord(std::int32_t version, std::span<const unsigned char> record);

// The version field of a header (its first four bytes).
std::int32_t DecodeVersion(std::span<const unsigned char, 4> bytes);

// Encodes a whole file of the given version (400 or 401).
std::vector<unsigned char> EncodeFile(const Header& header, std::span<const Bar> bars);

// Writes a file atomically (temporary file, then rename). Answers false on any failure.
bool WriteFile(const std::string& path, const Header& header, std::span<const Bar> bars);

} // namespace hst
} // namespace velmora
