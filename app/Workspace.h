#pragma once

#include "app/AppState.h"

#include <QObject>
#include <QRect>
#include <QTimer>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velmora {

class COrbaltApp;

// One window of the saved workspace: what it shows (a commodity's chart, the quote board or
// the help page), the chart's period and the time of its cursor's bar, where it was.
struct WindowEntry {
    DocKind kind = kQuoteBoardKind;
    int period = 0;
    QRect geometry;
    bool maximized = false;
    std::string cursorTime; // empty: the newest bar

    bool operator==(const WindowEntry&) const = default;
};

// "kind|period|x|y|width|height|maximized|cursor time", as the settings store keeps it.
std::string FormatWindowEntry(const WindowEntry& entry);
std::optional<WindowEntry> ParseWindowEntry(std::string_view text);

// Whether the program logs in on its own at start-up (自动登录 in the user center; off unless
// set).
bool AutoLoginEnabled();
void SetAutoLogin(bool on);

// The workspace across runs: at exit the main window and its child windows (board, charts,
// help) with their geometry, maximized state and stacking order go to the settings store; at
// start-up the board and help windows come back at once, the charts once the user is logged
// in and no synchronisation is running (a chart needs the login, and the synchronisation would
// move its cursor again). With 自动登录 on and a saved login, the program logs in by itself.
class Workspace : public QObject {
    Q_OBJECT

public:
    // `syncRunning` tells whether a synchronisation still has series to settle.
    Workspace(COrbaltApp& app, std::function<bool()> syncRunning);

    // Writes the windows as they are now.
    void save();
    // Reads the saved windows and starts bringing them back; then the automatic login.
    void restore();
    // Logs in with the saved login when 自动登录 is on; failures go to the status bar.
    void autoLogin();

    // Charts still waiting for the login.
    std::size_t pendingCharts() const { return m_pending.size(); }

private:
    void openPendingCharts();

    COrbaltApp& m_app;
    std::function<bool()> m_syncRunning;
    std::vector<WindowEntry> m_pending;
    QTimer m_wait;
};

} // namespace velmora
