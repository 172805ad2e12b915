#include "app/common/CommandLine.h"

std::vector<std::string> CommandLineArgs(int argc, char** argv) {
    return argc > 1 ? std::vector<std::string>(argv + 1, argv + argc) : std::vector<std::string>();
}
