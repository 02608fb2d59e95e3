#include "net/ReplyBody.h"

#include <algorithm>
#include <cstring>
#include <sys/mman.h>
#include <utility>

namespace velmora {

ReplyBody::~ReplyBody() { release(); }

ReplyBody::ReplyBody(ReplyBody&& other) noexcept
    : m_small(std::move(other.m_small)), m_mapped(std::exchange(other.m_mapped, nullptr)),
      m_mappedSize(std::exchange(other.m_mappedSize, 0)),
      m_reserved(std::exchange(other.m_reserved, 0))
{
    other.m_small.clear();
}

ReplyBody& ReplyBody::operator=(ReplyBody&& other) noexcept
{
    if (this != &other) {
        release();
        m_small = std::move(other.m_small);
        other.m_small.clear();
        m_mapped = std::exchange(other.m_mapped, nullptr);
        m_mappedSize = std::exchange(other.m_mappedSize, 0);
        m_reserved = std::exchange(other.m_reserved, 0);
    }
    return *this;
}

void ReplyBody::release()
{
    if (m_mapped != nullptr)
        ::munmap(m_mapped, m_reserved);
    m_mapped = nullptr;
    m_mappedSize = 0;
    m_reserved = 0;
}

void ReplyBody::clear()
{
    release();
    m_small.clear();
    m_small.shrink_to_fit();
}

std::string_view ReplyBody::view() const
{
    return m_mapped != nullptr ? std::string_view(m_mapped, m_mappedSize)
                               : std::string_view(m_small);
}

bool ReplyBody::append(const char* data, std::size_t n, std::size_t limit)
{
    const std::size_t now = size();
    if (n > limit - std::min(now, limit))
        return false;
    if (m_mapped == nullptr && now + n > kMappedFrom && limit > kMappedFrom) {
        // Reserved, not committed: only the pages written become resident.
        void* pages = ::mmap(nullptr, limit, PROT_READ | PROT_WRITE,
                             MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
        if (pages != MAP_FAILED) {
            m_mapped = static_cast<char*>(pages);
            m_reserved = limit;
            std::memcpy(m_mapped, m_small.data(), now);
            m_mappedSize = now;
            m_small.clear();
            m_small.shrink_to_fit();
        }
    }
    if (m_mapped != nullptr) {
        if (n > m_reserved - m_mappedSize)
            return false;
        std::memcpy(m_mapped + m_mappedSize, data, n);
        m_mappedSize += n;
    } else {
        m_small.append(data, n);
    }
    return true;
}

} // namespace velmora
