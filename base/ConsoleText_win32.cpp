#include "base/ConsoleText.h"
#include "base/ConsoleTextPlatform.h"

#include <windows.h>

#include <io.h>

#include <algorithm>

namespace {

// The console behind `stream`, or null when it writes to a file, a pipe or nowhere.
HANDLE ConsoleOf(std::FILE* stream) {
    const int fd = _fileno(stream);
    if (fd < 0) return nullptr;
    const intptr_t handle = _get_osfhandle(fd);
    if (handle == -1 || handle == -2) return nullptr;
    DWORD mode = 0;
    // GetConsoleMode succeeds for console handles only: the usual test, as files and pipes fail it.
    return GetConsoleMode(reinterpret_cast<HANDLE>(handle), &mode) ? reinterpret_cast<HANDLE>(handle) : nullptr;
}

}  // namespace

bool IsUtf16Console(std::FILE* stream) { return stream != nullptr && ConsoleOf(stream) != nullptr; }

int WriteUtf16Console(std::FILE* stream, const std::wstring& text) {
    const HANDLE console = ConsoleOf(stream);
    if (console == nullptr) return 0;
    // Bytes the stream still holds go first, so the console shows lines in the order they were written.
    std::fflush(stream);
    // Older consoles refuse long writes; pieces of at most 8 K characters, never cut inside a pair.
    constexpr size_t kPieceChars = 8192;
    size_t at = 0;
    while (at < text.size()) {
        size_t piece = std::min(kPieceChars, text.size() - at);
        if (piece > 1 && at + piece < text.size() && IS_HIGH_SURROGATE(text[at + piece - 1])) --piece;
        DWORD written = 0;
        if (!WriteConsoleW(console, text.data() + at, static_cast<DWORD>(piece), &written, nullptr) || written == 0)
            return 0;
        at += written;
    }
    return 1;
}
