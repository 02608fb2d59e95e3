#include "account/Account.h"
#include "app/KeyringVault.h"
#include "app/UserCenterDlg.h"
#include "app/UserPrompts.h"
#include "platform/RegistryKey.h"
#include "session/Session.h"
#include "tests/support/ScriptedPrompts.h"
#include "tests/support/TestSupport.h"

#include <QLineEdit>
#include <QTest>
#include <cstdlib>
#include <gtest/gtest.h>

namespace velmora {
namespace {

std::string SavedPassword()
{
    std::string text;
    CRegistryKey key(RegistryRoot::LocalMachine);
    if (key.Open(kRegistry.subKey))
        key.ReadString(kRegistry.loginPassword, text);
    return text;
}

// The saved password as the program keeps it, through the desktop's keyring when there is one.
class KeyringTest : public ::testing::Test {
protected:
    KeyringTest()
    {
        m_session.vault = &m_vault;
        m_session.g_pHttpClient = std::make_unique<CHttpClient>(Endpoints{}, test::CookieFolder());
    }

    // Saves through the vault and waits for its answer to reach the settings store.
    void saveAndSettle(const std::string& user, const std::string& password)
    {
        CRegistryKey key(RegistryRoot::LocalMachine);
        ASSERT_TRUE(key.Open(kRegistry.subKey));
        ASSERT_TRUE(key.WriteString(kRegistry.loginPassword, "stale"));
        SaveLogin(&m_vault, user, password);
        ASSERT_TRUE(QTest::qWaitFor([] { return SavedPassword() != "stale"; }, 30000));
    }

    KeyringVault m_vault;
    Session m_session;
    ScriptedPrompts m_prompts;
};

TEST_F(KeyringTest, WithoutAKeyringThePasswordStaysInTheSettingsStore)
{
    if (std::getenv("VELMORA_TEST_KEYRING"))
        GTEST_SKIP() << "a keyring is running";
    setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/velmora-bus", 1);
    saveAndSettle("王五", "p&w=1");
    EXPECT_EQ(SavedPassword(), "p&w=1");

    CUserCenterDlg dialog(m_session, m_prompts);
    EXPECT_EQ(dialog.passwordBox()->text(), QStringLiteral("p&w=1"));
}

// Run by ctest under a private session bus with an unlocked keyring.
TEST_F(KeyringTest, WithAKeyringNoPlainPasswordIsKept)
{
    if (!std::getenv("VELMORA_TEST_KEYRING"))
        GTEST_SKIP() << "no keyring in this run";
    saveAndSettle("王五", "p&w=1");
    EXPECT_EQ(SavedPassword(), "");

    CUserCenterDlg dialog(m_session, m_prompts);
    EXPECT_EQ(dialog.userNameBox()->text(), QStringLiteral("王五"));
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return dialog.passwordBox()->text() == QStringLiteral("p&w=1"); }, 30000));
    EXPECT_EQ(m_session.CurrentUser.password, "p&w=1");
}

} // namespace
} // namespace velmora
