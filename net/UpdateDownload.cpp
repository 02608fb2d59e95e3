#include "net/UpdateDownload.h"

#include "net/SelfUpdate.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace velmora {

namespace fs = std::filesystem;

struct UpdateDownload::State {
    CHttpClient& client;
    Poster post;
    fs::path folder;
    std::string version;
    std::string publicKey;

    int fd = -1;
    fs::path temp;
    TransferId transfer = 0;
    bool alive = true; // false once the owner has gone or `done` has run
    std::function<void(std::uint64_t)> progress;
    std::function<void(const DownloadResult&)> done;

    State(CHttpClient& httpClient, Poster poster, fs::path programFolder, std::string versionText,
          std::string publicKeyHex)
        : client(httpClient), post(std::move(poster)), folder(std::move(programFolder)),
          version(std::move(versionText)), publicKey(std::move(publicKeyHex))
    {
    }
    ~State() { discard(); }

    void discard()
    {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
        if (!temp.empty())
            (void)::unlink(temp.c_str());
        temp.clear();
    }

    void finish(DownloadResult result)
    {
        if (!result.ok())
            discard();
        if (!alive)
            return;
        alive = false;
        if (done)
            done(result);
    }
};

UpdateDownload::UpdateDownload(CHttpClient& client, Poster post, fs::path folder,
                               std::string version, std::string publicKeyHex)
    : m_state(std::make_shared<State>(client, std::move(post), std::move(folder),
                                      std::move(version), std::move(publicKeyHex)))
{
}

UpdateDownload::~UpdateDownload()
{
    m_state->alive = false;
    m_state->client.abort(m_state->transfer);
}

void UpdateDownload::cancel() { m_state->client.abort(m_state->transfer); }

void UpdateDownload::start(std::function<void(std::uint64_t)> progress,
                           std::function<void(const DownloadResult&)> done)
{
    const std::shared_ptr<State> state = m_state;
    state->progress = std::move(progress);
    state->done = std::move(done);

    // A name of its own, so that a half-written file is never taken for the update, in the
    // folder where it is renamed to.
    std::string pattern = (state->folder / ".velmoraupdate.XXXXXX").string();
    state->fd = ::mkostemp(pattern.data(), O_CLOEXEC);
    if (state->fd < 0) {
        const int error = errno;
        state->post([state, error] { state->finish({-1, error, "no temporary file", {}}); });
        return;
    }
    state->temp = pattern;

    auto verify = [state](HttpReply&& reply) {
        if (!state->alive)
            return;
        if (!reply.ok()) {
            state->finish({reply.code, reply.osErrno, "the signature cannot be fetched", {}});
            return;
        }
        std::string reason;
        if (!VerifyUpdate(state->fd, state->version, reply.body.view(), state->publicKey,
                          &reason)) {
            state->finish({-1, EBADMSG, reason, {}});
            return;
        }
        const fs::path file = state->folder / UpdateFileName(state->version);
        if (::fchmod(state->fd, 0700) != 0 || ::fsync(state->fd) != 0 ||
            ::rename(state->temp.c_str(), file.c_str()) != 0) {
            const int error = errno;
            state->finish({-1, error, "the update cannot be stored", {}});
            return;
        }
        ::close(state->fd);
        state->fd = -1;
        state->temp.clear();
        state->finish({0, 0, {}, file});
    };
    state->transfer = state->client.startDownload(
        kUpdatePath, state->fd,
        [state](std::uint64_t received) {
            state->post([state, received] {
                if (state->alive && state->progress)
                    state->progress(received);
            });
        },
        [state, verify](HttpReply&& reply) {
            const int code = reply.code;
            const int osErrno = reply.osErrno;
            state->post([state, verify, code, osErrno] {
                if (!state->alive)
                    return;
                if (code != CURLE_OK) {
                    state->finish({code, osErrno, "the update cannot be fetched", {}});
                    return;
                }
                state->transfer =
                    state->client.startWebsiteFile(kSignaturePath, [state, verify](HttpReply&& r) {
                        auto shared = std::make_shared<HttpReply>(std::move(r));
                        state->post([verify, shared] { verify(std::move(*shared)); });
                    });
            });
        });
}

} // namespace velmora
