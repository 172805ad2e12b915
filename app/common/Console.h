// What the front ends need to know of the console they write to. Platform part (Console_posix.cpp /
// Console_win32.cpp).
#pragma once

#include <cstdio>

// True when `stream` is an interactive terminal (progress then redraws one line in place).
bool IsTerminal(std::FILE* stream);

// Sets a Windows console's output code page to UTF-8, for bytes that still reach it as bytes (what a
// library writes on its own). The programs' texts and Trace go to a console as UTF-16 instead
// (base/ConsoleText.h), which shows right in any code page. A POSIX terminal takes UTF-8 already.
// Call once at start, before anything is written.
void UseUtf8Console();
