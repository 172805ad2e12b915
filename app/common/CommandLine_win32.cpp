#include "app/common/CommandLine.h"

#include <windows.h>

#include <shellapi.h>

#include "base/Text.h"
#include "base/Trace.h"

std::vector<std::string> CommandLineArgs(int argc, char** argv) {
    int count = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (wide == nullptr) {
        // Out of memory only; the ANSI arguments are still better than none.
        return argc > 1 ? std::vector<std::string>(argv + 1, argv + argc) : std::vector<std::string>();
    }
    std::vector<std::string> args;
    for (int i = 1; i < count; ++i) args.push_back(WideToUtf8(wide[i]));
    LocalFree(wide);
    return args;
}
