// The folder the running iap-cli was started from: its update files and "ver.txt" lie there unless
// --folder names another. Platform part (ProgramFolder_posix.cpp / ProgramFolder_win32.cpp).
#pragma once

#include <string>

// The folder of the running program, ending in '/' ("./" when the system cannot say).
std::string ProgramFolder();
