#include "base/ConsoleText.h"
#include "base/ConsoleTextPlatform.h"

// A POSIX terminal decodes the bytes by the locale, UTF-8 on every system the programs support.
bool IsUtf16Console(std::FILE*) { return false; }

int WriteUtf16Console(std::FILE*, const std::wstring&) { return 0; }
