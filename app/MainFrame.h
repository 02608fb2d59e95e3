#pragma once

#include <QMainWindow>
#include <map>

class QLabel;
class QMdiArea;
class QTimer;

namespace velmora {

class CImageToolBar;
class COrbaltApp;
class COrbaltView;

// The program's one top-level window: menus, toolbar, status bar, keyboard table and the
// child windows of the documents.
class CMainFrame : public QMainWindow {
    Q_OBJECT

public:
    explicit CMainFrame(COrbaltApp& app);
    ~CMainFrame() override;

    // Builds toolbar, status bar and keyboard table, then polls quotes once. False when a
    // part of the window cannot be created.
    bool OnCreate();

    // One poll of the quote page; the first one starts the quote timer.
    void PollQuotes();
    // A tick of the quote timer: starts a poll, unless the last one is still outstanding; the
    // views are refreshed when it answers. Missed ticks are not made up.
    void OnTimer();

    // Runs one command as menus, toolbar and keys do.
    void OnCommand(int id);

    // After each quote poll, good or failed: repaint quote boards, retitle charts.
    void refreshViews();
    // The feed pane, a permanent one left of the lock keys, tells the state of the quote feed:
    // the time of the last good poll, or 行情中断 in red with the reason once polls have been
    // failing for a while (empty before any poll has answered). Also runs on the panes' timer,
    // since the interruption comes with time; the views are refreshed when it starts or ends, as
    // their rows grey with it.
    void showFeedState();

    QLabel* feedPane() const { return m_feedPane; }
    // Left of the feed pane: how old the active chart's bars are when they came from the
    // local store rather than this run's synchronisation; empty otherwise.
    QLabel* storedPane() const { return m_storedPane; }

    QMdiArea* mdiArea() const { return m_mdi; }
    CImageToolBar* toolBar() const { return m_toolBar; }

    // The view of the active child window when it is an active chart, else null.
    COrbaltView* activeChartView() const;

    // The action behind a command id (menu or toolbar).
    QAction* action(int id) const;

private:
    void buildMenus();
    void buildToolBar();
    void buildStatusBar();
    void buildKeyboardTable();
    QAction* makeAction(int id, const QString& text);
    void navigate(int id);
    void analyse();
    void accessCode();
    void updateCaption();
    void updateLockPanes();
    void cascade();

    COrbaltApp& m_app;
    QMdiArea* m_mdi;
    CImageToolBar* m_toolBar = nullptr;
    std::map<int, QAction*> m_actions;
    QLabel* m_messagePane = nullptr;
    QLabel* m_feedPane = nullptr;
    QLabel* m_storedPane = nullptr;
    bool m_feedInterrupted = false;
    QLabel* m_capsPane = nullptr;
    QLabel* m_numPane = nullptr;
    QLabel* m_scrollPane = nullptr;
    QTimer* m_quoteTimer = nullptr;
};

} // namespace velmora
