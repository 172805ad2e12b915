#include "engine/VersionFile.h"

#include <cstdio>
#include <memory>

#include "base/Text.h"
#include "base/Trace.h"
#include "files/Utf8Path.h"

namespace {
struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

// C0, DEL and C1 controls: an ESC or a CR inside a value would move the cursor of a terminal or
// garble a label.
bool IsControl(wchar_t ch) { return ch < 0x20 || (ch >= 0x7F && ch <= 0x9F); }

// The line without its control characters; its final '\n' (the terminator as a text-mode reader
// delivers it, a CR before it included) stays.
std::wstring WithoutControls(const std::wstring& line) {
    const bool terminated = !line.empty() && line.back() == L'\n';
    std::wstring clean;
    clean.reserve(line.size());
    for (size_t i = 0; i + (terminated ? 1 : 0) < line.size(); ++i)
        if (!IsControl(line[i])) clean += line[i];
    if (terminated) clean += L'\n';
    return clean;
}
}  // namespace

int ReadVersionLines(const std::string& path, VersionLines& out) {
    out = VersionLines{};
    std::unique_ptr<std::FILE, FileCloser> file(OpenFileUtf8(path, "r"));
    if (!file) return 0;
    std::string bytes;
    char chunk[4096];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, file.get())) > 0) bytes.append(chunk, n);
    std::wstring text = Utf8ToWide(bytes);
    // Editors on Windows start UTF-8 text with a byte-order mark; it is not part of the device type.
    if (!text.empty() && text.front() == L'\uFEFF') text.erase(0, 1);

    size_t line = 0;
    size_t pos = 0;
    while (pos < text.size() && line < out.lines.size()) {
        // Like a fixed-size line buffer: at most 2047 characters per read, up to and with the '\n'.
        size_t take = 0;
        while (pos + take < text.size() && take < VERSION_LINE_BUFFER - 1) {
            ++take;
            if (text[pos + take - 1] == L'\n') break;
        }
        out.lines[line++] = WithoutControls(text.substr(pos, take));
        pos += take;
    }
    return 1;
}
