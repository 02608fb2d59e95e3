#pragma once

#include "net/HttpClient.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

namespace velmora {

// The result of a download: 0 and the file "velmoraupdate.VERSION" in the folder, or the
// failure's code (libcurl's, or -1 for a file or signature fault) and errno.
struct DownloadResult {
    int code = 0;
    int osErrno = 0;
    std::string reason;
    std::filesystem::path file;
    bool ok() const { return code == 0; }
};

// Fetches the update and its signature from the website into a temporary file of `folder`,
// verifies it against the version, and on success gives it its final name. A failure or an
// abort leaves no file behind. Progress and the result arrive through `post`, on the thread
// it hands them to. The object must live until `done` has run, and the client longer than
// the object.
class UpdateDownload {
public:
    using Poster = std::function<void(std::function<void()>)>;
    UpdateDownload(CHttpClient& client, Poster post, std::filesystem::path folder,
                   std::string version, std::string publicKeyHex);
    ~UpdateDownload();
    UpdateDownload(const UpdateDownload&) = delete;
    UpdateDownload& operator=(const UpdateDownload&) = delete;

    void start(std::function<void(std::uint64_t)> progress,
               std::function<void(const DownloadResult&)> done);
    // Ends the transfer; `done` then hears CURLE_ABORTED_BY_CALLBACK.
    void cancel();

private:
    struct State;
    std::shared_ptr<State> m_state;
};

} // namespace velmora
