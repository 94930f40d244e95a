#include "ui/Fonts.h"

#include <QApplication>
#include <gtest/gtest.h>

// One Qt application for every suite, on the offscreen platform unless a test
// run asks for another.
int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    corvidan::ui::installJapaneseFonts();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
