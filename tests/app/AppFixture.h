#pragma once

#include "app/MainFrame.h"
#include "app/OrbaltApp.h"
#include "app/OrbaltView.h"
#include "app/ProfileLayer.h"
#include "app/framework/ChildFrame.h"
#include "session/Session.h"
#include "tests/support/ScriptedPrompts.h"

#include <QCoreApplication>
#include <QMdiArea>
#include <gtest/gtest.h>
#include <memory>

namespace velmora::test {

// The program's application object and main window for a widget test, on a fresh session;
// the windows are gone after.
class AppFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        app = std::make_unique<COrbaltApp>(session, prompts);
        app->profileLayer().setShown(false);
        ASSERT_TRUE(app->InitInstance());
        frame = app->mainFrame();
    }

    void TearDown() override
    {
        app.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    COrbaltView* activeView() const
    {
        auto* child = qobject_cast<CChildFrame*>(frame->mdiArea()->activeSubWindow());
        return child ? qobject_cast<COrbaltView*>(child->view()) : nullptr;
    }

    // A new chart window of the commodity and period, as 分析商品 opens it.
    COrbaltView* openView(int commodity, Period period)
    {
        session.RequestKind = commodity;
        session.RequestPeriod = period;
        app->OpenTemplate(0);
        return activeView();
    }

    Session session;
    ScriptedPrompts prompts;
    std::unique_ptr<COrbaltApp> app;
    CMainFrame* frame = nullptr;
};

} // namespace velmora::test
