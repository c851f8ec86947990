// Entry point of the GUI tests: one QApplication for the whole run, on whatever platform
// the environment names (the test helper sets "offscreen").
#include <QApplication>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
