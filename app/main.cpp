#include "app/program.h"

int main(int argc, char** argv) {
    return quorvane::RunProgram(argc, argv);
}
