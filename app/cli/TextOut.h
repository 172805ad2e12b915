// Text for the user on the command line: wide text, written as base/ConsoleText.h says (UTF-16 to a
// Windows console, UTF-8 bytes to files, pipes and POSIX terminals).
#pragma once

#include <cstdio>
#include <string>

// Writes and flushes `text`; a null stream writes nothing.
void PrintText(std::FILE* out, const std::wstring& text);
// vswprintf into a string (at most 1023 characters).
std::wstring FormatText(const wchar_t* format, ...);
