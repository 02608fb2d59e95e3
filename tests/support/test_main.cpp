// Entry point of the test programs: every test runs in a home of the program's own.

#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    const velmora::test::PrivateHome home;
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
