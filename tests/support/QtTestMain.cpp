#include <QApplication>
#include <gtest/gtest.h>

// Widget tests run on Qt's offscreen platform unless the caller chose one (e.g. xcb under Xvfb).
int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
