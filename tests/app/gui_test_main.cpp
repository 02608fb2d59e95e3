// Entry point of the widget tests: one QApplication on the offscreen platform, with the
// settings store and the configuration pointed at a temporary folder.

#include "app/Translations.h"

#include <QApplication>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>

int main(int argc, char** argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    std::string home = (std::filesystem::temp_directory_path() / "velmora-gui-XXXXXX").string();
    if (mkdtemp(home.data()) == nullptr)
        return 2;
    setenv("VELMORA_REGISTRY", (home + "/registry.ini").c_str(), 1);
    setenv("VELMORA_CONFIG", (home + "/velmora.ini").c_str(), 1);
    setenv("XDG_CONFIG_HOME", home.c_str(), 1);
    setenv("XDG_STATE_HOME", home.c_str(), 1);
    setenv("XDG_DATA_HOME", home.c_str(), 1);

    // As the program does, for the help view's browser engine.
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication application(argc, argv);
    velmora::InstallQtTranslations(application);
    ::testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();
    std::filesystem::remove_all(home);
    return result;
}
