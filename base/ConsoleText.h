// Writing text for people to a standard stream. A Windows console shows UTF-16 text written with
// WriteConsoleW; the UTF-8 bytes of the C runtime's narrow output reach it through its code page and
// show garbled (also after "chcp 65001" in some consoles). So text goes to a console as UTF-16 and
// anywhere else (a file, a pipe, a POSIX terminal) as UTF-8 bytes, the form the tests and scripts read.
//
// The stream itself stays narrow: a C stream's orientation is fixed by its first use, and a wide write
// (fwprintf) on it would silence the narrow writes that follow. The console path writes to the
// stream's OS handle after flushing what the stream holds, so lines keep their order.
// Any thread; the caller keeps lines from different threads apart (Trace holds its lock).
#pragma once

#include <cstdio>
#include <string>

// True when `stream` is a console that takes UTF-16 text (Windows only; a POSIX terminal takes bytes).
bool IsUtf16Console(std::FILE* stream);

// Writes `text` and flushes; a null stream writes nothing. 1 when all of it was written, else 0.
int WriteConsoleText(std::FILE* stream, const std::wstring& text);
// The same for UTF-8 text (option errors, help laid out by the option layer).
int WriteConsoleUtf8(std::FILE* stream, const std::string& utf8);
