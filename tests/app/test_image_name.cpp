#include "app/ImageName.h"
#include "tests/support/TestSupport.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <string>

using namespace velmora;
using velmora::test::ScopedEnv;
using velmora::test::TempDir;

TEST(ImageName, ChartNameFromCodePeriodAndTheBarAtTheCursor)
{
    struct Case {
        const char* code;
        Period period;
        const char* barTime;
        const char* name;
    };
    const Case cases[] = {
        {"LLGUSD", kHalfHour, "2026.12.08 14:30", "LLGUSD-半小时线-2026-12-08.png"},
        {"LLGUSD", kDay, "2026.12.08 00:00", "LLGUSD-日线-2026-12-08.png"},
        {"EURUSD", kWeek, "2026-11-29", "EURUSD-周线-2026-11-29.png"},
        {"SGXPT", kMonth, "2026.12.01 00:00:00", "SGXPT-月线-2026-12-01.png"},
        // No bar at the cursor, or a time without a whole date: no date.
        {"LLGUSD", kDay, "", "LLGUSD-日线.png"},
        {"LLGUSD", kDay, "2026.1", "LLGUSD-日线.png"},
        {"LLGUSD", kDay, "20x6.12.08", "LLGUSD-日线.png"},
        // Nothing that leaves the folder, hides the file or needs quoting in a shell.
        {"../etc/passwd", kDay, "", "___etc_passwd-日线.png"},
        {".hidden", kDay, "", "_hidden-日线.png"},
        {"A/B\\C D:\t*", kDay, "", "A_B_C_D___-日线.png"},
        {"白银T+D", kDay, "", "白银T_D-日线.png"},
        {"", kDay, "", "价值图-日线.png"},
        {"LLGUSD", -1, "2026.12.08", "LLGUSD-2026-12-08.png"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ChartImageName(c.code, c.period, c.barTime), c.name)
            << c.code << " " << c.barTime;
}

TEST(ImageName, QuoteBoardNameHasTheDay)
{
    EXPECT_EQ(QuoteBoardImageName(2026, 12, 8), "行情-2026-12-08.png");
    EXPECT_EQ(QuoteBoardImageName(2027, 1, 31), "行情-2027-01-31.png");
}

TEST(ImageName, SaveFolderIsTheOneLastSavedIntoWhileItExists)
{
    TempDir dir;
    const ScopedEnv registry("VELMORA_REGISTRY", (dir / "registry.ini").string());
    const std::filesystem::path home = dir / "home";
    EXPECT_EQ(ImageSaveFolder(home), home);

    const std::filesystem::path charts = dir / "图表" / "日线";
    std::filesystem::create_directories(charts);
    RememberImageSaveFolder(charts);
    EXPECT_EQ(ImageSaveFolder(home), charts);

    // A long folder name is kept whole.
    const std::filesystem::path deep =
        charts / std::string(40 * 3, 'x') / "价值图价值图价值图价值图";
    std::filesystem::create_directories(deep);
    RememberImageSaveFolder(deep);
    EXPECT_EQ(ImageSaveFolder(home), deep);

    std::filesystem::remove_all(dir / "图表");
    EXPECT_EQ(ImageSaveFolder(home), home);
}
