// Entry point of the GUI tests: one QApplication for the whole run, on whatever platform
// the environment names (the test helper sets "offscreen"), with the program's font.
#include "app/program_font.h"

#include <QApplication>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    quorvane::UseProgramFont();
    return RUN_ALL_TESTS();
}
