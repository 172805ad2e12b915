// Private to ConsoleText: the platform's console write (ConsoleText_posix.cpp / ConsoleText_win32.cpp).
#pragma once

#include <cstdio>
#include <string>

// Writes `text` as UTF-16 to the console behind `stream`. 1 when all was written, else 0 (also when
// `stream` is no console).
int WriteUtf16Console(std::FILE* stream, const std::wstring& text);
