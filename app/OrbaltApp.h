#pragma once

#include <functional>
#include <memory>
#include <vector>

class QString;

namespace velmora {

class CDocTemplate;
class CDocument;
class CMainFrame;
class ProfileLayerSwitch;
class CView;
class UserPrompts;
struct Session;

// Work that other parts of the program plug into start-up, the frame and its commands. An
// empty hook is skipped.
struct AppHooks {
    std::function<void()> pollQuotes;            // starts a poll of the quote page unless one runs
    std::function<void()> loadHistory;           // fills the bar store from the local store
    std::function<void()> syncAll;               // start-up synchronisation and "同步数据"
    std::function<void()> checkForUpdate;        // version check and update hand-over
    std::function<void()> logout;                // the orderly exit's logout of a logged-in user
    std::function<void()> dataManagement;        // the data management dialog
    std::function<void()> userCenter;            // the user center dialog
    std::function<void()> configuration;         // the configuration dialog behind the access code
    std::function<void(const QString&)> openUrl; // the system's default browser
    // The help page's view; without it the help template opens nothing.
    std::function<CView*(CDocument*)> makeHelpView;
};

// The application object: start-up, the two document templates, the orderly exit.
class COrbaltApp {
public:
    // The session must outlive the application.
    COrbaltApp(Session& session, UserPrompts& prompts);
    ~COrbaltApp();
    COrbaltApp(const COrbaltApp&) = delete;
    COrbaltApp& operator=(const COrbaltApp&) = delete;

    // The start-up sequence; false ends the program without entering the event loop.
    bool InitInstance();

    // Command 32797: asks, logs a logged-in user out, then asks the event loop to end.
    void OnSystemExit();

    // A new document window from the template at `position` (0 charts, 1 help); a position
    // without a template does nothing.
    void OpenTemplate(int position);

    CMainFrame* mainFrame() const { return m_mainFrame.get(); }
    std::vector<CDocTemplate*> templates() const;
    UserPrompts& prompts() const { return m_prompts; }
    Session& session() const { return m_session; }
    // The profile layer's switch of every chart window.
    ProfileLayerSwitch& profileLayer() const { return *m_profileLayer; }
    AppHooks& hooks() { return m_hooks; }

private:
    Session& m_session;
    UserPrompts& m_prompts;
    AppHooks m_hooks;
    std::unique_ptr<ProfileLayerSwitch> m_profileLayer;
    std::vector<std::unique_ptr<CDocTemplate>> m_templates;
    // Declared last so that it goes first: its views still talk to the documents.
    std::unique_ptr<CMainFrame> m_mainFrame;
};

} // namespace velmora
