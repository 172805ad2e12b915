// The arguments a front end was started with, as UTF-8 text. On Windows `argv` is in the ANSI code
// page, where a Cyrillic folder name outside it turns into '?'; the wide command line is read there
// instead. Platform part (CommandLine_posix.cpp / CommandLine_win32.cpp).
#pragma once

#include <string>
#include <vector>

// The arguments after the program name.
std::vector<std::string> CommandLineArgs(int argc, char** argv);
