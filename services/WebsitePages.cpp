#include "services/WebsitePages.h"

#include "net/SelfUpdate.h"
#include "platform/Failure.h"
#include "platform/PosixFile.h"
#include "services/AccountStore.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <sys/stat.h>
#include <unistd.h>

namespace velmora::services {

namespace fs = std::filesystem;

namespace {

std::string SystemError(const fs::path& file)
{
    return file.string() + ": " + std::strerror(errno);
}

// Writes `bytes` to a temporary file beside `file`, makes it durable and renames it over.
bool ReplaceFile(const fs::path& file, std::string_view bytes, std::string* error)
{
    std::string temp = (file.parent_path() / ("." + file.filename().string() + ".XXXXXX")).string();
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0)
        return Fail(error, SystemError(temp));
    bool ok = ::fchmod(fd, 0644) == 0;
    for (std::size_t done = 0; ok && done < bytes.size();) {
        const ssize_t wrote = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (wrote < 0 && errno == EINTR)
            continue;
        ok = wrote > 0;
        if (ok)
            done += static_cast<std::size_t>(wrote);
    }
    ok = ok && ::fsync(fd) == 0;
    if (!ok)
        Fail(error, SystemError(temp));
    ::close(fd);
    if (ok && ::rename(temp.c_str(), file.c_str()) != 0)
        ok = Fail(error, SystemError(file));
    if (!ok)
        (void)::unlink(temp.c_str());
    return ok;
}

bool ReadWhole(const fs::path& file, std::string& bytes)
{
    std::ifstream in(file, std::ios::binary);
    if (!in)
        return false;
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

void ServeFile(httplib::Server& server, const std::string& pattern, fs::path file, std::string type)
{
    server.Get(pattern, [file = std::move(file), type = std::move(type)](
                            const httplib::Request&, httplib::Response& response) {
        std::string bytes;
        if (!ReadWhole(file, bytes)) {
            response.status = 404;
            response.set_content("not published", "text/plain");
            return;
        }
        response.set_content(std::move(bytes), type);
    });
}

} // namespace

void AddWebsitePages(httplib::Server& server, const fs::path& publishDir, const fs::path& helpDir)
{
    ServeFile(server, "/velmora/version\\.html", publishDir / "version.html", "text/html");
    ServeFile(server, "/velmora/velmoraupdate\\.rar", publishDir / "velmoraupdate.rar",
              "application/octet-stream");
    ServeFile(server, "/velmora/velmoraupdate\\.rar\\.sig", publishDir / "velmoraupdate.rar.sig",
              "text/plain");
    if (!helpDir.empty()) {
        server.set_mount_point("/helponline", helpDir.string());
        server.set_file_extension_and_mimetype_mapping("html", "text/html; charset=utf-8");
        server.set_file_extension_and_mimetype_mapping("css", "text/css; charset=utf-8");
    }
}

bool PublishUpdate(const fs::path& publishDir, std::string_view version, const fs::path& program,
                   std::string_view seedHex, std::string* error)
{
    std::string reason;
    const std::optional<std::string> cleaned = CleanVersion(version, &reason);
    if (!cleaned || *cleaned != version)
        return Fail(error, "version \"" + std::string(version) +
                               "\": " + (cleaned ? "trailing white space" : reason));
    std::string bytes;
    const ReadableFile source = OpenForReading(program);
    if (!source.ok() || !ReadToEnd(source.fd.get(), bytes))
        return Fail(error,
                    program.string() + ": " + (source.ok() ? "cannot be read" : source.reason()));
    std::error_code made;
    fs::create_directories(publishDir, made);
    if (made)
        return Fail(error, publishDir.string() + ": " + made.message());
    const fs::path file = publishDir / "velmoraupdate.rar";
    if (!ReplaceFile(file, bytes, error))
        return false;
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    const std::string signature = fd < 0 ? std::string() : SignUpdate(fd, version, seedHex);
    if (fd >= 0)
        ::close(fd);
    if (signature.empty())
        return Fail(error, "the signing key is malformed (64 hexadecimal digits expected)");
    return ReplaceFile(publishDir / "velmoraupdate.rar.sig", signature, error) &&
           ReplaceFile(publishDir / "version.html", version, error);
}

fs::path DefaultPublishDir() { return DefaultDataFile("publish"); }

fs::path DefaultHelpDir()
{
    std::error_code error;
    const fs::path self = fs::read_symlink("/proc/self/exe", error);
    if (!error) {
        const fs::path installed = self.parent_path().parent_path() / "share/velmora/helponline";
        if (fs::is_regular_file(installed / "mainindex.html", error))
            return installed;
    }
    return VELMORA_HELP_SOURCE_DIR;
}

} // namespace velmora::services
