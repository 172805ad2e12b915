#include "base/ConsoleText.h"

#include "base/ConsoleTextPlatform.h"
#include "base/Text.h"

namespace {

int WriteBytes(std::FILE* stream, const std::string& bytes) {
    const bool all = std::fwrite(bytes.data(), 1, bytes.size(), stream) == bytes.size();
    return std::fflush(stream) == 0 && all ? 1 : 0;
}

}  // namespace

int WriteConsoleText(std::FILE* stream, const std::wstring& text) {
    if (stream == nullptr) return 0;
    if (IsUtf16Console(stream)) return WriteUtf16Console(stream, text);
    return WriteBytes(stream, WideToUtf8(text));
}

int WriteConsoleUtf8(std::FILE* stream, const std::string& utf8) {
    if (stream == nullptr) return 0;
    if (IsUtf16Console(stream)) return WriteUtf16Console(stream, Utf8ToWide(utf8));
    return WriteBytes(stream, utf8);
}
