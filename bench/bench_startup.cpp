// Start-up with no data server reachable: from the application object to the first painted
// main window, as the program starts, and the resident memory once start-up has settled.
// One start per process: the figures are those of a cold program.

#include "app/LiveData.h"
#include "app/MainFrame.h"
#include "app/OrbaltApp.h"
#include "app/UserPrompts.h"
#include "net/HttpClient.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QTest>
#include <benchmark/benchmark.h>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <unistd.h>

using namespace velmora;

namespace {

// Notes the first paint of any part of the main window.
class FirstPaint : public QObject {
public:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (!painted && event->type() == QEvent::Paint) {
            auto* widget = qobject_cast<QWidget*>(watched);
            if (widget != nullptr && qobject_cast<CMainFrame*>(widget->window()) != nullptr) {
                painted = true;
                elapsedNs = clock.nsecsElapsed();
            }
        }
        return false;
    }
    QElapsedTimer clock;
    bool painted = false;
    qint64 elapsedNs = 0;
};

long ResidentKiB()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stol(line.substr(6));
    }
    return -1;
}

// Seconds since this process started (clock-tick resolution).
double ProcessAgeSeconds()
{
    std::ifstream stat("/proc/self/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::string field;
    unsigned long long start = 0;
    for (int i = 3; i <= 22 && fields >> field; ++i) {
        if (i == 22)
            start = std::stoull(field);
    }
    std::ifstream uptime("/proc/uptime");
    double up = 0;
    uptime >> up;
    return up - static_cast<double>(start) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

void BM_StartupToFirstPaintWithoutServer(benchmark::State& state)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    const std::filesystem::path dir = std::filesystem::temp_directory_path() / "velmora-startup";
    std::filesystem::create_directories(dir);
    std::filesystem::current_path(dir);
    setenv("VELMORA_REGISTRY", (dir / "registry.ini").c_str(), 1);
    setenv("VELMORA_CONFIG", (dir / "velmora.ini").c_str(), 1);
    // The data server's port: nothing listens on a privileged one here.
    std::ofstream(dir / "velmora.ini") << "[data_server]\nport=1\n";

    for (auto _ : state) {
        FirstPaint first;
        first.clock.start();
        static int argc = 1;
        static char name[] = "velmora";
        static char* argv[] = {name, nullptr};
        QApplication application(argc, argv);
        application.installEventFilter(&first);
        ScriptedPrompts prompts;
        COrbaltApp app(prompts);
        auto live = std::make_unique<LiveData>(app, prompts);
        if (!app.InitInstance()) {
            state.SkipWithError("start-up failed");
            break;
        }
        if (!QTest::qWaitFor([&first] { return first.painted; }, 10000)) {
            state.SkipWithError("the main window was never painted");
            break;
        }
        state.SetIterationTime(static_cast<double>(first.elapsedNs) / 1e9);
        state.counters["process_age_at_paint_s"] = ProcessAgeSeconds();
        // Let the failed synchronisation and the first poll end, then measure.
        QTest::qWait(500);
        state.counters["rss_MiB"] = static_cast<double>(ResidentKiB()) / 1024;
        application.removeEventFilter(&first);
        delete g_pHttpClient;
        live.reset();
    }
}
BENCHMARK(BM_StartupToFirstPaintWithoutServer)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

} // namespace
