#include <gtest/gtest.h>

#include <QApplication>

// Every test executable runs inside a QApplication, offscreen unless told otherwise,
// so that GUI, image and timer code behaves as it does in the program.
int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
