#include "app/cli/TextOut.h"

#include <cstdarg>
#include <cwchar>

#include "base/ConsoleText.h"
#include "base/Trace.h"

void PrintText(std::FILE* out, const std::wstring& text) {
    WriteConsoleText(out, text);
}

std::wstring FormatText(const wchar_t* format, ...) {
    wchar_t text[1024] = {};
    va_list args;
    va_start(args, format);
    std::vswprintf(text, 1024, format, args);
    va_end(args);
    return text;
}
