#include "platform/PosixFile.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace velmora {

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept
{
    if (this != &other) {
        reset();
        m_fd = std::exchange(other.m_fd, -1);
    }
    return *this;
}

void UniqueFd::reset()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

std::string ReadableFile::reason() const
{
    return notRegular ? std::string("not a regular file") : std::string(std::strerror(error));
}

ReadableFile OpenForReading(const std::filesystem::path& file)
{
    ReadableFile result;
    // Looked at first so that a device is not even opened: opening some has effects of its
    // own. The check on the open descriptor below is the one that counts.
    struct stat before {};
    if (::stat(file.c_str(), &before) != 0) {
        result.error = errno;
        return result;
    }
    if (!S_ISREG(before.st_mode)) {
        result.notRegular = true;
        return result;
    }

    UniqueFd fd(::open(file.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (!fd.valid()) {
        result.error = errno;
        return result;
    }
    if (::fstat(fd.get(), &result.info) != 0) {
        result.error = errno;
        return result;
    }
    if (!S_ISREG(result.info.st_mode)) {
        result.notRegular = true;
        return result;
    }
    // Reads then behave as on any file opened the ordinary way.
    const int flags = ::fcntl(fd.get(), F_GETFL);
    if (flags < 0 || ::fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK) != 0) {
        result.error = errno;
        return result;
    }
    result.fd = std::move(fd);
    return result;
}

bool ReadToEnd(int fd, std::string& out, std::size_t limit)
{
    std::size_t taken = 0;
    char buffer[65536];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (got == 0)
            return true;
        const auto n = static_cast<std::size_t>(got);
        if (n > limit - taken)
            return false;
        taken += n;
        out.append(buffer, n);
    }
}

} // namespace velmora
