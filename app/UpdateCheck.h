#pragma once

#include <QObject>
#include <QPointer>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

class QProgressDialog;

namespace velmora {

class COrbaltApp;
class UpdateDownload;
class UserPrompts;
struct DownloadResult;

// The version check of start-up and the hand-over to the updater. Nothing waits on the
// network: the version request and the download run on the HTTP client's thread behind a
// progress dialog that cancels the download.
class UpdateCheck : public QObject {
    Q_OBJECT

public:
    struct Options {
        std::filesystem::path folder; // where the program and the updater live
        std::string publicKey;        // hexadecimal Ed25519 key of the published updates
        // Starts the updater for a version; false when it could not start.
        std::function<bool(const std::filesystem::path&, std::string_view, std::string*)>
            startUpdater;
    };
    // The running program's folder, the configured key, the real updater.
    static Options defaultOptions();

    // Installs the app's checkForUpdate hook.
    UpdateCheck(COrbaltApp& app, UserPrompts& prompts, Options options = defaultOptions());
    ~UpdateCheck() override;

    // Asks for the published version unless the program's folder is not the user's to write.
    void CheckForUpdate();

    bool busy() const { return m_busy; }

private:
    void decide(bool ok, const std::string& published);
    void downloaded(const DownloadResult& result);
    void requestEnd();

    COrbaltApp& m_app;
    UserPrompts& m_prompts;
    Options m_options;
    bool m_busy = false;
    bool m_settingsReported = false;
    std::string m_version;
    std::unique_ptr<UpdateDownload> m_download;
    QPointer<QProgressDialog> m_progress;
};

} // namespace velmora
