// Text conversion between the wide strings of messages and file names and the UTF-8 of files,
// consoles and the simulator's logs. One conversion for every platform: wchar_t is 32 bits on POSIX
// and 16 bits (UTF-16, with surrogate pairs) on Windows, and both are handled here.
// Pure functions; any thread.
#pragma once

#include <string>

// UTF-8 form of a wide string (code points above U+10FFFF and lone surrogates become U+FFFD).
std::string WideToUtf8(const std::wstring& text);
// Wide form of UTF-8 text; malformed bytes become U+FFFD.
std::wstring Utf8ToWide(const std::string& text);
