// The version rule, the signed download from the reference website, and the tool's check.

#include "net/HttpClient.h"
#include "net/SelfUpdate.h"
#include "net/UpdateDownload.h"
#include "services/AccountServer.h"
#include "services/WebsitePages.h"
#include "tests/support/TestSupport.h"
#include "tests/support/UpdateWebsite.h"

#include <fcntl.h>
#include <fstream>
#include <future>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

using namespace velmora;
using velmora::test::TempDir;
namespace fs = std::filesystem;

namespace {

std::vector<std::string> Names(const fs::path& dir)
{
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// A second key, for updates the program must refuse.
constexpr std::string_view kOtherSeed =
    "00112233445566778899aabbccddeeff00112233445566778899aabbccddeeff";

} // namespace

TEST(UpdateRule, ComparesPublishedWithInstalledDashPublished)
{
    struct Case {
        const char* installed;
        const char* published;
        bool due;
    };
    const Case cases[] = {
        {"3.0.20150702", "3.0.20150703", true},
        {"3.0.20150702", "3.0.20150702", false},
        {"3.0.20150702", "3.0.20150702\r\n", false}, // CR sorts before '-'
        {"3.0.20150702", "3.0.20150702.1", true},    // '.' sorts after '-'
        {"", "3.0.20150702", true},
        {"", "", false},
        {"3.0.20150702", "", false},
        {"3.0.20150702", "2.9", false},
        {"3.0.20150702", "3.1", true},
        {"3.0", "3.0-beta", true}, // '-' against '-': then 'b' against '3'
        {"3.0", "3.0-1", false},   // '1' against '3'
    };
    for (const Case& c : cases)
        EXPECT_EQ(UpdateDue(c.installed, c.published), c.due)
            << '"' << c.installed << "\" / \"" << c.published << '"';
    // Bytes compare as unsigned values: a GBK lead byte sorts after every ASCII byte.
    EXPECT_TRUE(UpdateDue("3.0", "\xb0\xe6"));
}

TEST(UpdateRule, ADueVersionIsCleanedBeforeItNamesAFile)
{
    UpdateDecision decision = DecideUpdate("3.0.1", "3.0.2\r\n \t");
    EXPECT_TRUE(decision.due);
    EXPECT_EQ(decision.version, "3.0.2");
    EXPECT_EQ(UpdateFileName(decision.version), "velmoraupdate.3.0.2");

    for (const char* refused :
         {"../x", "3.0 2", "a/b", "3.0.2;rm", "4.0\n5.0", "\xb0\xe6\xb1\xbe"}) {
        decision = DecideUpdate("", refused);
        EXPECT_FALSE(decision.due) << refused;
        EXPECT_FALSE(decision.reason.empty()) << refused;
    }
    EXPECT_TRUE(DecideUpdate("", std::string(64, '9')).due);
    EXPECT_FALSE(DecideUpdate("", std::string(65, '9')).due);
}

TEST(UpdateSignature, BindsTheBytesToTheVersion)
{
    TempDir dir;
    velmora::test::WriteWholeFile(dir / "program", "new program bytes");
    const int fd = ::open((dir / "program").c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    const std::string key = PublicKeyOfSeed(services::kDemoUpdateSeed);
    EXPECT_EQ(key, Endpoints{}.updatePublicKey);
    const std::string signature = SignUpdate(fd, "3.0.2", services::kDemoUpdateSeed);
    std::string error;
    EXPECT_TRUE(VerifyUpdate(fd, "3.0.2", signature, key, &error)) << error;
    // An old file replayed as a newer version, another key, a damaged signature.
    EXPECT_FALSE(VerifyUpdate(fd, "3.0.3", signature, key, &error));
    EXPECT_FALSE(VerifyUpdate(fd, "3.0.2", signature, PublicKeyOfSeed(kOtherSeed), &error));
    std::string damaged = signature;
    damaged[10] = damaged[10] == '0' ? '1' : '0';
    EXPECT_FALSE(VerifyUpdate(fd, "3.0.2", damaged, key, &error));
    EXPECT_FALSE(VerifyUpdate(fd, "3.0.2", "", key, &error));
    ::close(fd);
    velmora::test::WriteWholeFile(dir / "program", "new program bytes!");
    const int changed = ::open((dir / "program").c_str(), O_RDONLY | O_CLOEXEC);
    EXPECT_FALSE(VerifyUpdate(changed, "3.0.2", signature, key, &error));
    ::close(changed);
}

class UpdateDownloadTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        fs::create_directories(folder);
        std::string error;
        server = velmora::test::StartUpdateWebsite(dir.path(), error);
        ASSERT_TRUE(server) << error;
        endpoints.website.port = server->port();
        client = std::make_unique<CHttpClient>(endpoints, dir / "cookies");
    }
    void TearDown() override
    {
        client.reset();
        server.reset();
    }

    void publish(const std::string& version, const std::string& bytes,
                 std::string_view seed = services::kDemoUpdateSeed)
    {
        velmora::test::WriteWholeFile(dir / "built", bytes);
        std::string error;
        ASSERT_TRUE(services::PublishUpdate(dir / "publish", version, dir / "built", seed, &error))
            << error;
    }

    DownloadResult download(const std::string& version, bool cancelAtOnce = false)
    {
        // The handlers run on the client's thread; the test only waits for the end.
        UpdateDownload job(
            *client, [](std::function<void()> work) { work(); }, folder, version,
            endpoints.updatePublicKey);
        std::promise<DownloadResult> promise;
        job.start({}, [&promise](const DownloadResult& result) { promise.set_value(result); });
        if (cancelAtOnce)
            job.cancel();
        return promise.get_future().get();
    }

    TempDir dir;
    fs::path folder = dir / "program";
    Endpoints endpoints;
    std::unique_ptr<services::AccountServer> server;
    std::unique_ptr<CHttpClient> client;
};

TEST_F(UpdateDownloadTest, AVerifiedDownloadGetsItsFinalName)
{
    const std::string bytes(300000, 'x');
    publish("3.0.2", bytes);
    const DownloadResult result = download("3.0.2");
    ASSERT_TRUE(result.ok()) << result.code << " " << result.reason;
    EXPECT_EQ(result.file, folder / "velmoraupdate.3.0.2");
    EXPECT_EQ(velmora::test::ReadWholeFile(result.file), bytes);
    EXPECT_EQ(Names(folder), std::vector<std::string>{"velmoraupdate.3.0.2"});
}

TEST_F(UpdateDownloadTest, ABadOrMissingSignatureFailsAndLeavesNoFile)
{
    // Signed with a key the program does not trust.
    publish("3.0.2", "evil", kOtherSeed);
    DownloadResult result = download("3.0.2");
    EXPECT_EQ(result.code, -1);
    EXPECT_EQ(result.osErrno, EBADMSG);
    EXPECT_TRUE(Names(folder).empty());

    // A genuine older file and signature, served as a newer version.
    publish("3.0.1", "old but genuine");
    velmora::test::WriteWholeFile(dir / "publish" / "version.html", "3.0.2");
    result = download("3.0.2");
    EXPECT_EQ(result.code, -1);
    EXPECT_TRUE(Names(folder).empty());

    publish("3.0.2", "good");
    fs::remove(dir / "publish" / "velmoraupdate.rar.sig");
    result = download("3.0.2");
    EXPECT_EQ(result.code, CURLE_HTTP_RETURNED_ERROR);
    EXPECT_TRUE(Names(folder).empty());

    // Nothing published at all.
    fs::remove_all(dir / "publish");
    result = download("3.0.2");
    EXPECT_EQ(result.code, CURLE_HTTP_RETURNED_ERROR);
    EXPECT_TRUE(Names(folder).empty());
}

TEST_F(UpdateDownloadTest, CancelAbortsAndLeavesNoFile)
{
    publish("3.0.2", std::string(1 << 20, 'y'));
    const DownloadResult result = download("3.0.2", true);
    EXPECT_EQ(result.code, CURLE_ABORTED_BY_CALLBACK);
    EXPECT_TRUE(Names(folder).empty());
}

TEST_F(UpdateDownloadTest, AFolderThatCannotTakeTheFileFailsWithErrno)
{
    if (::geteuid() == 0)
        GTEST_SKIP() << "root writes into any folder";
    publish("3.0.2", "good");
    fs::permissions(folder, fs::perms::owner_read | fs::perms::owner_exec);
    const DownloadResult result = download("3.0.2");
    fs::permissions(folder, fs::perms::owner_all);
    EXPECT_EQ(result.code, -1);
    EXPECT_EQ(result.osErrno, EACCES);
}

TEST_F(UpdateDownloadTest, ToolCheckPrintsTheDecision)
{
    const fs::path config = dir / "velmora.ini";
    velmora::test::WriteWholeFile(config,
                                  "[website]\nport=" + std::to_string(server->port()) + "\n");
    {
        const test::ScopedEnv registry("VELMORA_REGISTRY", (dir / "registry.ini").string());
        ASSERT_TRUE(WriteInstalledVersion("3.0.1"));
    }
    const auto run = [&] {
        const std::string command = "VELMORA_CONFIG='" + config.string() + "' VELMORA_REGISTRY='" +
                                    (dir / "registry.ini").string() + "' '" + VELMORA_TOOL +
                                    "' update --check >'" + (dir / "out").string() +
                                    "' 2>/dev/null";
        const int raw = std::system(command.c_str());
        return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    };
    publish("3.0.2", "new");
    EXPECT_EQ(run(), 0);
    EXPECT_EQ(velmora::test::ReadWholeFile(dir / "out"),
              "{\"due\":true,\"installed\":\"3.0.1\",\"published\":\"3.0.2\"}\n");

    velmora::test::WriteWholeFile(dir / "publish" / "version.html", "../3.0.2");
    EXPECT_EQ(run(), 0);
    EXPECT_NE(velmora::test::ReadWholeFile(dir / "out").find("\"due\":false"), std::string::npos);

    // A settings file that cannot be parsed leaves the installed version unknown: no update,
    // which would otherwise repeat at every start.
    velmora::test::WriteWholeFile(dir / "publish" / "version.html", "3.0.2");
    velmora::test::WriteWholeFile(dir / "registry.ini", "VELMORA_VERSION=3.0.1\n");
    EXPECT_EQ(run(), 0);
    EXPECT_EQ(velmora::test::ReadWholeFile(dir / "out"),
              "{\"due\":false,\"installed\":\"\",\"published\":\"3.0.2\"}\n");
    // One that starts with a byte-order mark is read.
    velmora::test::WriteWholeFile(
        dir / "registry.ini", "\xEF\xBB\xBF[SOFTWARE\\\\Microsoft\\\\Windows\\\\CurrentVersion]\n"
                              "VELMORA_VERSION=3.0.2\n");
    EXPECT_EQ(run(), 0);
    EXPECT_EQ(velmora::test::ReadWholeFile(dir / "out"),
              "{\"due\":false,\"installed\":\"3.0.2\",\"published\":\"3.0.2\"}\n");

    server.reset();
    EXPECT_EQ(run(), 1);
    EXPECT_NE(velmora::test::ReadWholeFile(dir / "out").find("\"due\":false"), std::string::npos);
}

TEST_F(UpdateDownloadTest, TheWebsiteServesTheHelpPages)
{
    std::promise<HttpReply> promise;
    client->startWebsiteFile("/helponline/mainindex.html", [&promise](HttpReply&& reply) {
        promise.set_value(std::move(reply));
    });
    const HttpReply reply = promise.get_future().get();
    ASSERT_TRUE(reply.ok()) << reply.code;
    EXPECT_NE(reply.body.view().find("在线帮助"), std::string_view::npos);
}

TEST(UpdatePlaces, OnlyAFolderOfTheUsersOwnUpdatesItself)
{
    TempDir dir;
    EXPECT_TRUE(CanSelfUpdate(dir.path()));
    // The package manager's folders, even for root who could write them.
    EXPECT_FALSE(CanSelfUpdate("/usr/bin"));
    EXPECT_FALSE(CanSelfUpdate("/usr/local/bin"));
    EXPECT_FALSE(CanSelfUpdate(""));
    EXPECT_FALSE(CanSelfUpdate("relative/folder"));
    EXPECT_EQ(RunningProgramFolder(),
              fs::path(VELMORA_TOOL).parent_path().parent_path() / "tests/net");
}
