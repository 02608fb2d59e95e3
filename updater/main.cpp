// velmora-update: replaces the program with the downloaded new version and starts it again.
// Started by the program, in the program's folder, with the words
// "velmora-update velmora VERSION velmoraupdate.VERSION".

#include "BuildVersion.h"
#include "updater/Replace.h"
#include "updater/UpdaterDlg.h"

#include <QApplication>
#include <QMessageBox>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr const char* kHelp =
    "Usage: velmora-update PROGRAM VERSION FILE\n"
    "Replaces the program with its downloaded new version and starts it again. The program\n"
    "starts it in its own folder when an update is due; it is not meant to be started by hand.\n"
    "It stops the user's PROGRAM running from that folder, keeps the old file as PROGRAM.old,\n"
    "renames FILE over PROGRAM, records VERSION as the installed version and starts\n"
    "./PROGRAM.\n"
    "\n"
    "Options:\n"
    "  -h, --help      show this help and exit\n"
    "      --version   show the version and exit\n"
    "\n"
    "Exit status:\n"
    "  0  always; problems are shown in a message box\n";

// The updater's messages: a box with the stop icon.
class StopBoxSink final : public velmora::MessageSink {
public:
    void showMessage(std::string_view text) override
    {
        QMessageBox box(QMessageBox::Critical, QStringLiteral("velmora-update"),
                        QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
        box.addButton(QStringLiteral("确定"), QMessageBox::AcceptRole);
        box.exec();
    }
};

// Collects the messages of the work thread for the window's thread.
class KeptSink final : public velmora::MessageSink {
public:
    void showMessage(std::string_view text) override { messages.emplace_back(text); }
    std::vector<std::string> messages;
};

} // namespace

int main(int argc, char** argv)
{
    // Answered without a window.
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::fputs(kHelp, stdout);
        return 0;
    }
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("velmora-update %s\n", velmora::kProgramVersion);
        return 0;
    }
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("velmora-update"));
    StopBoxSink stopBox;

    const std::vector<std::string> words(argv, argv + argc);
    const std::optional<velmora::UpdaterWords> parsed = velmora::ParseUpdaterWords(words);
    if (!parsed) {
        stopBox.showMessage(velmora::kUpdaterUsage);
        return 0;
    }

    velmora::UpdaterDlg dialog(QString::fromStdString(parsed->version));
    dialog.show();
    // The work waits for the program to end; the dialog paints meanwhile.
    KeptSink kept;
    std::thread work([&] {
        std::error_code error;
        const std::filesystem::path folder = std::filesystem::current_path(error);
        velmora::RunUpdate(folder, *parsed, kept);
        // exit(), not quit(): quit asks the windows to close, and this one refuses.
        QMetaObject::invokeMethod(
            &application, [] { QApplication::exit(0); }, Qt::QueuedConnection);
    });
    QApplication::exec();
    work.join();
    dialog.hide();
    for (const std::string& message : kept.messages)
        stopBox.showMessage(message);
    return 0;
}
