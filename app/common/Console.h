// What the front ends need to know of the console they write to. Platform part (Console_posix.cpp /
// Console_win32.cpp).
#pragma once

#include <cstdio>

// True when `stream` is an interactive terminal (progress then redraws one line in place).
bool IsTerminal(std::FILE* stream);

// Makes the console show the UTF-8 text the programs write (Russian texts, Trace). Windows consoles
// start in an OEM code page and would show it garbled; a POSIX terminal takes UTF-8 already. Call once
// at start, before anything is written. Output stays narrow bytes: a C stream's orientation is fixed by
// its first use, and wide writes on the same stream would silence the narrow ones.
void UseUtf8Console();
