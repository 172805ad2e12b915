#include "app/cli/ProgramFolder.h"

#include <windows.h>

#include <vector>

#include "base/Text.h"
#include "base/Trace.h"

std::string ProgramFolder() {
    // Paths may be longer than MAX_PATH; grow until the whole name fits.
    std::vector<wchar_t> path(MAX_PATH);
    for (;;) {
        const DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (n == 0) return "./";
        if (n < path.size()) {
            std::wstring text(path.data(), n);
            const size_t slash = text.find_last_of(L"\\/");
            if (slash == std::wstring::npos) return "./";
            text.resize(slash);
            return WideToUtf8(text) + "/";
        }
        if (path.size() >= 32768) return "./";
        path.resize(path.size() * 2);
    }
}
