#include <QCoreApplication>
#include <gtest/gtest.h>

// Test main for suites of UI-free code: no windows, no platform plugin.
int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
