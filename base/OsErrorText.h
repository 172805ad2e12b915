// The reasons an OS call fails most often, in Russian for the user's messages. The system's own text
// is English on most systems (strerror, and FormatMessage under an English Windows); the callers write
// it to the trace beside the code, where a developer looks for it, and show the Russian text. A
// reason without a Russian text here is shown in the system's words. Pure functions; any thread.
#pragma once

#include <string>

// For a C library errno value (POSIX calls, and the C runtime's file calls on Windows).
std::wstring ErrnoText(int error, const std::wstring& systemText);
// For a Windows error code (GetLastError); plain numbers, so every platform builds and tests it.
std::wstring WindowsErrorText(unsigned long code, const std::wstring& systemText);
