// Text helpers shared by the windows and the command line. Plain C++ (no Qt), any thread.
#pragma once

#include <string>

// `line` without its trailing CR/LF: the lines of "ver.txt" keep their terminator, a one-line label or
// a report line shows none.
std::wstring TrimLineEnd(const std::wstring& line);
