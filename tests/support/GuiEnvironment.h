#pragma once

#include <QGuiApplication>
#include <gtest/gtest.h>
#include <memory>

namespace velmora::test {

// Fonts need a GUI application; tests of drawing never have a display, so the offscreen
// platform is used unless QT_QPA_PLATFORM says otherwise. Register one per test program:
//   ::testing::AddGlobalTestEnvironment(new velmora::test::GuiEnvironment);
class GuiEnvironment : public ::testing::Environment {
public:
    void SetUp() override
    {
        if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        m_app = std::make_unique<QGuiApplication>(m_argc, m_argv);
    }
    void TearDown() override { m_app.reset(); }

private:
    int m_argc = 1;
    char m_name[16] = "drawing-test";
    char* m_argv[2] = {m_name, nullptr};
    std::unique_ptr<QGuiApplication> m_app;
};

} // namespace velmora::test
