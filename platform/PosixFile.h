#pragma once

#include <cstddef>
#include <filesystem>
#include <limits>
#include <string>
#include <sys/stat.h>
#include <utility>

namespace velmora {

// Owns one file descriptor and closes it on every way out.
class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : m_fd(fd) {}
    UniqueFd(UniqueFd&& other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept;
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    ~UniqueFd() { reset(); }

    int get() const { return m_fd; }
    bool valid() const { return m_fd >= 0; }
    int release() { return std::exchange(m_fd, -1); }
    void reset();

private:
    int m_fd = -1;
};

// An existing file opened for reading, or why it could not be.
struct ReadableFile {
    UniqueFd fd;
    struct stat info {};     // of the opened file
    int error = 0;           // errno of the step that failed
    bool notRegular = false; // refused: a folder, FIFO, socket or device

    bool ok() const { return fd.valid(); }
    // "not a regular file" or the system's text for `error`.
    std::string reason() const;
};

// Opens an existing regular file for reading. The files the program reads are named by users
// and other programs, and a FIFO named there would block a plain open(2) until some writer
// came, which may be never; a device is no data either. So the open never blocks and anything
// but a regular file is refused. Links are followed: settings files and MT4 folders are often
// linked from elsewhere, and the check is on what the link leads to.
ReadableFile OpenForReading(const std::filesystem::path& file);

// Appends everything from the descriptor's position to its end to `out`. False on a read
// error or when more than `limit` bytes would be read.
bool ReadToEnd(int fd, std::string& out,
               std::size_t limit = std::numeric_limits<std::size_t>::max());

} // namespace velmora
