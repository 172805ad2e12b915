#include "app/common/VersionFile.h"

#include <cstdio>
#include <memory>

#include "engine/Trace.h"

namespace {
struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
}  // namespace

int ReadVersionLines(const std::string& path, VersionLines& out) {
    out = VersionLines{};
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "r"));
    if (!file) return 0;
    std::string bytes;
    char chunk[4096];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, file.get())) > 0) bytes.append(chunk, n);
    const std::wstring text = Utf8ToWide(bytes);

    size_t line = 0;
    size_t pos = 0;
    while (pos < text.size() && line < out.lines.size()) {
        // Like a fixed-size line buffer: at most 2047 characters per read, up to and with the '\n'.
        size_t take = 0;
        while (pos + take < text.size() && take < VERSION_LINE_BUFFER - 1) {
            ++take;
            if (text[pos + take - 1] == L'\n') break;
        }
        out.lines[line++] = text.substr(pos, take);
        pos += take;
    }
    return 1;
}

std::wstring TrimLineEnd(const std::wstring& line) {
    size_t end = line.size();
    while (end > 0 && (line[end - 1] == L'\n' || line[end - 1] == L'\r')) --end;
    return line.substr(0, end);
}
