#include <gtest/gtest.h>

#include <QApplication>
#include <cstdlib>

int main(int argc, char** argv)
{
    // Widget tests never need a display unless a test asks for one explicitly.
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    setenv("CORVANTA_SOURCE_DIR", CORVANTA_TEST_SOURCE_DIR, 0);
    setenv("CORVANTA_BINARY_DIR", CORVANTA_TEST_BINARY_DIR, 0);
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
