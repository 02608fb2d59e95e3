#pragma once

#include "analysis/QuoteBoardDrawing.h"
#include "market/live/QuoteFeedState.h"

#include <QObject>
#include <QPointer>
#include <chrono>
#include <functional>
#include <memory>

class QProgressDialog;

namespace velmora {

class ClosingSink;
class COrbaltApp;
class QuotePoller;
class SeriesTransport;
class SyncRun;
class UserPrompts;

// Connects the program to the data server without ever waiting on it: the quote poll of the
// frame's timer and the synchronisation of all series run as transfers of the HTTP client,
// whose replies are stored here, on the window's thread, when they arrive.
class LiveData : public QObject {
    Q_OBJECT

public:
    // Installs the hooks of the app; its transfers go through the session's HTTP client (none
    // makes every one fail). Starts the session's feed state afresh: the feed counts as interrupted
    // once polls have failed for `interruptAfter`, a quote as stale after the configured minutes.
    LiveData(COrbaltApp& app, UserPrompts& prompts,
             std::chrono::milliseconds interruptAfter = QuoteFeedState::kInterruptAfter);
    // Gives up a running synchronisation and aborts what is in flight, silently.
    ~LiveData() override;

    // Starts a poll of the quote page unless one is outstanding; when it answers, good or
    // not, the feed state takes note and the views and the status bar are refreshed.
    void pollQuotes();
    // Synchronises all series behind a window-modal progress dialog whose cancel button
    // aborts the run; ends with the completion message. Ignored while a run is going on.
    void syncAll();

    bool syncRunning() const { return m_run != nullptr; }
    // Whether series of the synchronisation are still to be settled; false already while its
    // completion message is shown.
    bool syncInFlight() const;
    bool pollOutstanding() const;

private:
    void endRun();

    COrbaltApp& m_app;
    UserPrompts& m_prompts;
    std::unique_ptr<QuotePoller> m_poller;
    std::unique_ptr<SeriesTransport> m_transport;
    std::unique_ptr<SyncRun> m_run;
    // The frame owns the dialog; it may go first when the program quits.
    QPointer<QProgressDialog> m_progress;
    std::unique_ptr<ClosingSink> m_sink;
};

// Hands work to the window's thread: the poster of every transfer the windows start.
void PostToGui(std::function<void()> work);

// What the quote board is told by the feed state now: its stale rows and today's date.
QuoteBoardMarks CurrentBoardMarks(const QuoteFeedState& feed);

} // namespace velmora
