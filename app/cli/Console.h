// What iap-cli needs to know of the console it writes to. Platform part (Console_posix.cpp /
// Console_win32.cpp).
#pragma once

#include <cstdio>

// True when `stream` is an interactive terminal (progress then redraws one line in place).
bool IsTerminal(std::FILE* stream);
