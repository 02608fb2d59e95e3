#include "app/AboutText.h"
#include "app/AppState.h"
#include "app/Commands.h"
#include "app/Dialogs.h"
#include "app/MainFrame.h"
#include "app/OrbaltApp.h"
#include "app/UserPrompts.h"
#include "net/Endpoints.h"
#include "platform/RegistryKey.h"
#include "session/Session.h"
#include "tests/support/ScriptedPrompts.h"

#include <QApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

using namespace velmora;

namespace {

void WriteVersion(const std::string& version)
{
    CRegistryKey key(RegistryRoot::LocalMachine);
    ASSERT_TRUE(key.Open(kRegistry.subKey));
    ASSERT_TRUE(key.WriteString(kRegistry.version, version));
}

} // namespace

TEST(AboutDialog, ShowsTheHelpTextAndTheInstalledVersion)
{
    WriteVersion(std::string(200, '9')); // too long to read: an empty version
    {
        CAboutDlg about;
        EXPECT_EQ(about.windowTitle(), QStringLiteral("关于 06.06.29.3.0"));
        EXPECT_TRUE(about.versionText().isEmpty());
        EXPECT_TRUE(about.helpText().contains(QStringLiteral("F8:切换商品分析周期")));
        EXPECT_EQ(about.helpText().count(QLatin1Char('\n')), 12);
    }
    WriteVersion("2.1.7");
    CAboutDlg about;
    EXPECT_EQ(about.versionText(), QStringLiteral("2.1.7"));
}

class AccessCodeTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        app = std::make_unique<COrbaltApp>(session, prompts);
        ASSERT_TRUE(app->InitInstance());
        app->hooks().configuration = [this] { ++configurations; };
    }

    // Types `text` into the prompt and confirms (or cancels) it.
    void prompt(const QString& text, bool confirm)
    {
        QTimer::singleShot(0, [text, confirm] {
            auto* dialog = qobject_cast<CPasswordDlg*>(QApplication::activeModalWidget());
            ASSERT_NE(dialog, nullptr);
            EXPECT_EQ(dialog->windowTitle(), QStringLiteral("输入密码"));
            dialog->edit()->setText(text);
            confirm ? dialog->accept() : dialog->reject();
        });
        app->mainFrame()->OnCommand(ID_ACCESS_CODE);
    }

    Session session;
    ScriptedPrompts prompts;
    std::unique_ptr<COrbaltApp> app;
    int configurations = 0;
};

TEST_F(AccessCodeTest, OnlyTheExactCodeOpensTheConfiguration)
{
    const QString code = QString::fromStdString(CurrentEndpoints().configAccessCode);
    ASSERT_EQ(code.size(), 7);
    prompt(QLatin1Char(' ') + code, true);
    prompt(code + QLatin1Char(' '), true);
    EXPECT_EQ(configurations, 0);
    prompt(code, false); // cancelled: never opens
    EXPECT_EQ(configurations, 0);
    prompt(code, true);
    EXPECT_EQ(configurations, 1);
    EXPECT_TRUE(prompts.messages.empty());
}

TEST_F(AccessCodeTest, BothChordsOpenThePrompt)
{
    const QString code = QString::fromStdString(CurrentEndpoints().configAccessCode);
    for (const auto modifiers :
         {Qt::ControlModifier | Qt::AltModifier, Qt::ControlModifier | Qt::ShiftModifier}) {
        QApplication::setActiveWindow(app->mainFrame());
        ASSERT_TRUE(QTest::qWaitForWindowActive(app->mainFrame()));
        QTimer::singleShot(0, [code] {
            auto* dialog = qobject_cast<CPasswordDlg*>(QApplication::activeModalWidget());
            ASSERT_NE(dialog, nullptr);
            dialog->edit()->setText(code);
            dialog->accept();
        });
        QTest::keyClick(app->mainFrame(), Qt::Key_F12, modifiers);
    }
    EXPECT_EQ(configurations, 2);
}

TEST(StandardDialogs, SpeakChinese)
{
    QMessageBox box(QMessageBox::Question, QStringLiteral("Velmora"), QStringLiteral("?"),
                    QMessageBox::Ok | QMessageBox::Cancel | QMessageBox::Yes | QMessageBox::No);
    EXPECT_EQ(box.button(QMessageBox::Ok)->text(), QStringLiteral("确定"));
    EXPECT_EQ(box.button(QMessageBox::Cancel)->text(), QStringLiteral("取消"));
    EXPECT_TRUE(box.button(QMessageBox::Yes)->text().contains(QStringLiteral("是")));
    EXPECT_TRUE(box.button(QMessageBox::No)->text().contains(QStringLiteral("否")));
}
