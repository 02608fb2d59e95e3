// velmora-update: replaces the program with the downloaded new version and starts it again.
// Started by the program, in the program's folder, with the words
// "velmora-update velmora VERSION velmoraupdate.VERSION".

#include "BuildVersion.h"
#include "updater/Replace.h"
#include "updater/UpdaterDlg.h"

#include <QApplication>
#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QMessageBox>
#include <cstdio>
#include <filesystem>
#include <optional>
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

// What the command line asks for.
struct UpdaterOptions {
    enum class Command { Help, Version, Update };
    Command command = Command::Update;
    // The whole command line: the update checks its words itself and tells a bad one in a box.
    std::vector<std::string> words;
};

// --help, -h and --version count only as the one word after the name.
UpdaterOptions ParseArguments(int argc, char** argv)
{
    UpdaterOptions options;
    options.words.assign(argv, argv + argc);
    if (argc != 2)
        return options;
    QCommandLineParser parser;
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    const QCommandLineOption version(QStringLiteral("version"));
    parser.addOption(help);
    parser.addOption(version);
    QStringList arguments;
    for (const std::string& word : options.words)
        arguments.append(QString::fromLocal8Bit(word.data(), static_cast<qsizetype>(word.size())));
    if (!parser.parse(arguments))
        return options;
    if (parser.isSet(help))
        options.command = UpdaterOptions::Command::Help;
    else if (parser.isSet(version))
        options.command = UpdaterOptions::Command::Version;
    return options;
}

// Stops the program, replaces it and starts it again, with a window meanwhile; every problem
// is shown in a box afterwards.
int ReplaceAndRestart(int argc, char** argv, const std::vector<std::string>& words)
{
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("velmora-update"));
    StopBoxSink stopBox;

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

} // namespace

int main(int argc, char** argv)
{
    const UpdaterOptions options = ParseArguments(argc, argv);
    switch (options.command) {
    case UpdaterOptions::Command::Help:
        // Answered without a window.
        std::fputs(kHelp, stdout);
        return 0;
    case UpdaterOptions::Command::Version:
        std::printf("velmora-update %s\n", velmora::kProgramVersion);
        return 0;
    case UpdaterOptions::Command::Update:
        break;
    }
    return ReplaceAndRestart(argc, argv, options.words);
}
