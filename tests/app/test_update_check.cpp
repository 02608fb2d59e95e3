// The start-up version check against the reference website on loopback: a published,
// signed version is downloaded and handed to the real updater, which replaces the program in
// its folder and starts it again; a bad signature ends in the failure message.

#include "app/OrbaltApp.h"
#include "app/UpdateCheck.h"
#include "app/UserPrompts.h"
#include "net/HttpClient.h"
#include "net/SelfUpdate.h"
#include "platform/SettingsStore.h"
#include "services/AccountServer.h"
#include "services/WebsitePages.h"
#include "session/Session.h"
#include "tests/support/ScriptedPrompts.h"
#include "tests/support/TestSupport.h"
#include "tests/support/UpdateWebsite.h"

#include <QTest>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>

using namespace velmora;
namespace fs = std::filesystem;

namespace {

class UpdateCheckTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        fs::create_directories(folder);
        std::string error;
        server = test::StartUpdateWebsite(dir.path(), error);
        ASSERT_TRUE(server) << error;
        Endpoints endpoints;
        endpoints.website.port = server->port();
        session.g_pHttpClient = std::make_unique<CHttpClient>(endpoints, dir / "cookies");
        app = std::make_unique<COrbaltApp>(session, prompts);
        check = std::make_unique<UpdateCheck>(
            *app, prompts, UpdateCheck::Options{folder, endpoints.updatePublicKey, &StartUpdater});
        ASSERT_TRUE(WriteInstalledVersion("3.0.1"));
    }
    void TearDown() override
    {
        check.reset();
        session.g_pHttpClient.reset();
        app.reset();
        server.reset();
        (void)WriteInstalledVersion("");
    }

    void publish(const std::string& version, const fs::path& program,
                 std::string_view seed = services::kDemoUpdateSeed)
    {
        std::string error;
        ASSERT_TRUE(services::PublishUpdate(dir / "publish", version, program, seed, &error))
            << error;
    }

    bool checked()
    {
        app->hooks().checkForUpdate();
        return QTest::qWaitFor([this] { return !check->busy(); }, 20000);
    }

    test::TempDir dir;
    fs::path folder = dir / "program";
    Session session;
    ScriptedPrompts prompts;
    std::unique_ptr<services::AccountServer> server;
    std::unique_ptr<COrbaltApp> app;
    std::unique_ptr<UpdateCheck> check;
};

} // namespace

TEST_F(UpdateCheckTest, APublishedVersionReplacesTheProgramAndRestartsIt)
{
    fs::copy_file(FAKE_VELMORA, folder / "velmora");
    fs::copy_file(VELMORA_UPDATER, folder / "velmora-update");
    const std::string newBytes = velmora::test::ReadWholeFile(FAKE_VELMORA) + "\nversion 3.0.2\n";
    std::ofstream(dir / "built", std::ios::binary) << newBytes;
    publish("3.0.2", dir / "built");
    const test::ScopedEnv platform("QT_QPA_PLATFORM", "offscreen");

    ASSERT_TRUE(checked());
    EXPECT_TRUE(prompts.messages.empty());
    // The updater works on its own now; the restarted program writes its line.
    ASSERT_TRUE(QTest::qWaitFor([&] { return fs::exists(folder / "started.log"); }, 20000));
    EXPECT_EQ(velmora::test::ReadWholeFile(folder / "velmora"), newBytes);
    EXPECT_EQ(ReadInstalledVersion(), "3.0.2");
    EXPECT_TRUE(fs::exists(folder / "velmora.old"));
}

TEST_F(UpdateCheckTest, AWrongSignatureEndsInTheFailureMessage)
{
    std::ofstream(dir / "built", std::ios::binary) << "not ours";
    publish("3.0.2", dir / "built",
            "00112233445566778899aabbccddeeff00112233445566778899aabbccddeeff");
    ASSERT_TRUE(checked());
    ASSERT_EQ(prompts.messages.size(), 1u);
    EXPECT_EQ(prompts.messages[0], "更新失败【-1|74】");
    EXPECT_TRUE(fs::is_empty(folder));
    EXPECT_EQ(ReadInstalledVersion(), "3.0.1");
}

// A settings file that cannot be read is reported once, and with the installed version unknown
// nothing is downloaded: the update could not be recorded and would repeat at every start.
TEST_F(UpdateCheckTest, AnUnreadableSettingsFileIsReportedAndStartsNoUpdate)
{
    std::ofstream(dir / "built", std::ios::binary) << "new";
    publish("3.0.2", dir / "built");
    const fs::path settings = SettingsStore::defaultPath();
    std::ofstream(settings, std::ios::binary | std::ios::trunc) << "VELMORA_VERSION=3.0.1\n";
    ASSERT_TRUE(checked());
    ASSERT_TRUE(checked());
    ASSERT_EQ(prompts.messages.size(), 1u);
    EXPECT_NE(prompts.messages[0].find("设置文件无法读取"), std::string::npos)
        << prompts.messages[0];
    EXPECT_TRUE(fs::is_empty(folder));
    fs::remove(settings);
}

TEST_F(UpdateCheckTest, NothingNewerOrNoWebsiteSaysNothing)
{
    std::ofstream(dir / "built", std::ios::binary) << "same";
    publish("3.0.1", dir / "built");
    ASSERT_TRUE(checked());
    server.reset();
    ASSERT_TRUE(checked());
    EXPECT_TRUE(prompts.messages.empty());
    EXPECT_TRUE(fs::is_empty(folder));
}
