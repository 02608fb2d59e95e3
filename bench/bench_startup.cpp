// Start-up with no data server reachable: from the application object to the first painted
// main window, as the program starts, and the resident memory once start-up has settled (the
// first benchmark of the process, so the figures are those of a cold program). Then how long
// a key waits before the window takes it while the quote page takes 3 s and the
// synchronisation runs.

#include "app/LiveData.h"
#include "app/MainFrame.h"
#include "app/OrbaltApp.h"
#include "app/OrbaltDoc.h"
#include "app/OrbaltView.h"
#include "app/StoredHistory.h"
#include "app/UserPrompts.h"
#include "app/Workspace.h"
#include "net/HttpClient.h"
#include "platform/RegistryKey.h"
#include "services/DataServer.h"
#include "session/Session.h"
#include "tests/support/ScriptedPrompts.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QKeyEvent>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <benchmark/benchmark.h>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <unistd.h>

using namespace velmora;

namespace {

// Notes the first paint of any part of the main window.
// Notes the time of the first paint of a widget that `counts` accepts.
class FirstPaint : public QObject {
public:
    explicit FirstPaint(std::function<bool(QWidget*)> counts) : m_counts(std::move(counts)) {}
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (!painted && event->type() == QEvent::Paint) {
            auto* widget = qobject_cast<QWidget*>(watched);
            if (widget != nullptr && m_counts(widget)) {
                painted = true;
                elapsedNs = clock.nsecsElapsed();
            }
        }
        return false;
    }
    QElapsedTimer clock;
    bool painted = false;
    qint64 elapsedNs = 0;

private:
    std::function<bool(QWidget*)> m_counts;
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
    setenv("XDG_STATE_HOME", dir.c_str(), 1);
    // The data server's port: nothing listens on a privileged one here.
    std::ofstream(dir / "velmora.ini") << "[data_server]\nport=1\n";

    for (auto _ : state) {
        FirstPaint first(
            [](QWidget* widget) { return qobject_cast<CMainFrame*>(widget->window()) != nullptr; });
        first.clock.start();
        static int argc = 1;
        static char name[] = "velmora";
        static char* argv[] = {name, nullptr};
        QApplication application(argc, argv);
        application.installEventFilter(&first);
        const auto session = std::make_unique<Session>();
        session->g_pHttpClient =
            std::make_unique<CHttpClient>(CurrentEndpoints(), CHttpClient::defaultCookieFolder());
        ScriptedPrompts prompts;
        COrbaltApp app(*session, prompts);
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
        session->g_pHttpClient.reset();
        live.reset();
    }
}
BENCHMARK(BM_StartupToFirstPaintWithoutServer)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

// Notes when each posted key reaches the main window.
class KeyArrival : public QObject {
public:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::KeyPress && qobject_cast<CMainFrame*>(watched) != nullptr)
            arrivals.push_back(clock.nsecsElapsed());
        return false;
    }
    QElapsedTimer clock;
    std::vector<qint64> arrivals;
};

void BM_KeyLatencyDuringSlowPollAndSync(benchmark::State& state)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    services::DataServerOptions options;
    options.testRoutes = true;
    services::DataServer server(options);
    std::string error;
    if (!server.start(&error)) {
        state.SkipWithError(error.c_str());
        return;
    }
    services::Fault slow;
    slow.delay = std::chrono::milliseconds(3000);
    slow.times = 0;
    server.injectFault(slow);
    Endpoints endpoints;
    endpoints.dataServer.port = server.port();

    for (auto _ : state) {
        static int argc = 1;
        static char name[] = "velmora";
        static char* argv[] = {name, nullptr};
        QApplication application(argc, argv);
        const auto session = std::make_unique<Session>();
        session->g_pHttpClient =
            std::make_unique<CHttpClient>(endpoints, std::filesystem::temp_directory_path());
        ScriptedPrompts prompts;
        COrbaltApp app(*session, prompts);
        auto live = std::make_unique<LiveData>(app, prompts);
        if (!app.InitInstance()) {
            state.SkipWithError("start-up failed");
            break;
        }
        KeyArrival keys;
        keys.clock.start();
        app.mainFrame()->installEventFilter(&keys);
        // A key every 20 ms for 4 s, while the first poll and the 13 first requests wait.
        std::vector<qint64> posted;
        QTimer typist;
        QObject::connect(&typist, &QTimer::timeout, &application, [&] {
            posted.push_back(keys.clock.nsecsElapsed());
            QCoreApplication::postEvent(
                app.mainFrame(), new QKeyEvent(QEvent::KeyPress, Qt::Key_F8, Qt::NoModifier));
        });
        typist.start(20);
        QTest::qWait(4000);
        typist.stop();
        QTest::qWait(50);
        const bool stillWaiting = live->syncRunning() || live->pollOutstanding();
        std::vector<double> waits;
        for (std::size_t i = 0; i < std::min(posted.size(), keys.arrivals.size()); ++i)
            waits.push_back(static_cast<double>(keys.arrivals[i] - posted[i]) / 1e6);
        std::sort(waits.begin(), waits.end());
        if (waits.empty() || keys.arrivals.size() != posted.size()) {
            state.SkipWithError("keys were lost");
            break;
        }
        state.SetIterationTime(waits.back() / 1e3);
        state.counters["keys"] = static_cast<double>(waits.size());
        state.counters["median_ms"] = waits[waits.size() / 2];
        state.counters["max_ms"] = waits.back();
        state.counters["transfers_still_waiting"] = stillWaiting ? 1 : 0;
        app.mainFrame()->removeEventFilter(&keys);
        session->g_pHttpClient.reset();
        live.reset();
    }
    server.stop();
}
BENCHMARK(BM_KeyLatencyDuringSlowPollAndSync)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

// A restart with a saved workspace (one chart) and the user logged in (as automatic login
// does while the synchronisation runs): from the synchronisation's end to the chart's first
// paint, with the bar store written through to a fresh local store meanwhile.
void BM_FirstChartAfterSyncEnd(benchmark::State& state)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    services::DataServer server(services::DataServerOptions{});
    std::string error;
    if (!server.start(&error)) {
        state.SkipWithError(error.c_str());
        return;
    }
    Endpoints endpoints;
    endpoints.dataServer.port = server.port();
    const std::filesystem::path dir = std::filesystem::temp_directory_path() / "velmora-restart";
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    setenv("VELMORA_REGISTRY", (dir / "registry.ini").c_str(), 1);
    {
        CRegistryKey key(RegistryRoot::LocalMachine);
        key.Open(kRegistry.subKey);
        key.WriteString("VELMORA_WINDOWS", "1");
        key.WriteString("VELMORA_WINDOW0", "12|1|0|0|800|600|1|");
    }

    for (auto _ : state) {
        static int argc = 1;
        static char name[] = "velmora";
        static char* argv[] = {name, nullptr};
        QApplication application(argc, argv);
        const auto session = std::make_unique<Session>();
        session->g_pHttpClient = std::make_unique<CHttpClient>(endpoints, dir);
        ScriptedPrompts prompts;
        COrbaltApp app(*session, prompts);
        auto live = std::make_unique<LiveData>(app, prompts);
        StoredHistory history(app, prompts, dir / "history.db");
        Workspace workspace(app, [&live] { return live->syncInFlight(); });
        if (!app.InitInstance()) {
            state.SkipWithError("start-up failed");
            break;
        }
        session->CurrentUser.loggedIn = true;
        workspace.restore();
        // A chart's view or its viewport, not the board's.
        FirstPaint paint([](QWidget* widget) {
            auto* view = qobject_cast<COrbaltView*>(widget);
            if (view == nullptr)
                view = qobject_cast<COrbaltView*>(widget->parentWidget());
            return view != nullptr && view->document()->kind != kQuoteBoardKind;
        });
        application.installEventFilter(&paint);
        if (!QTest::qWaitFor([&live] { return !live->syncInFlight(); }, 30000)) {
            state.SkipWithError("the synchronisation did not end");
            break;
        }
        paint.clock.start();
        if (!QTest::qWaitFor([&paint] { return paint.painted; }, 5000)) {
            state.SkipWithError("the chart was never painted");
            break;
        }
        state.SetIterationTime(static_cast<double>(paint.elapsedNs) / 1e9);
        application.removeEventFilter(&paint);
        session->g_pHttpClient.reset();
        live.reset();
    }
    server.stop();
}
BENCHMARK(BM_FirstChartAfterSyncEnd)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);

} // namespace
