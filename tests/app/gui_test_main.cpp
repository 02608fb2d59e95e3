// Entry point of the widget tests: one QApplication on the offscreen platform, in a home of
// the program's own, with the settings store and the configuration there.

#include "app/Translations.h"
#include "tests/support/TestSupport.h"

#include <QApplication>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>

int main(int argc, char** argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    const velmora::test::PrivateHome privateHome;
    const std::string home = privateHome.path().string();
    setenv("VELMORA_REGISTRY", (home + "/registry.ini").c_str(), 1);
    setenv("VELMORA_CONFIG", (home + "/velmora.ini").c_str(), 1);

    // As the program does, for the help view's browser engine.
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication application(argc, argv);
    velmora::InstallQtTranslations(application);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
