#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace velmora {

// The body of a reply as it arrives. A small body lives in an ordinary string; one that grows
// past kMappedFrom moves once into pages reserved for the largest body a reply may have, where
// it grows without being copied again and without leaving freed copies resident: a 64 MiB
// reply costs 64 MiB of memory, not two or three times that.
class ReplyBody {
public:
    ReplyBody() = default;
    ~ReplyBody();
    ReplyBody(ReplyBody&& other) noexcept;
    ReplyBody& operator=(ReplyBody&& other) noexcept;
    ReplyBody(const ReplyBody&) = delete;
    ReplyBody& operator=(const ReplyBody&) = delete;

    // Answers false, and keeps nothing of `data`, when the body would grow past `limit`.
    bool append(const char* data, std::size_t n, std::size_t limit);
    void clear();

    std::string_view view() const;
    std::size_t size() const { return view().size(); }
    bool empty() const { return size() == 0; }
    std::string str() const { return std::string(view()); }

    static constexpr std::size_t kMappedFrom = std::size_t{1} << 20;

private:
    void release();

    std::string m_small;
    char* m_mapped = nullptr;
    std::size_t m_mappedSize = 0;
    std::size_t m_reserved = 0;
};

} // namespace velmora
