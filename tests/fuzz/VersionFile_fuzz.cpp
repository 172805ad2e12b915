// A "ver.txt" through ReadVersionLines (from a scratch file: the reader takes a path). Whatever the
// bytes, the four lines keep the line shape: at most 2047 characters, a line end only at the end of
// a line, a short line only where the text ends; plain ASCII text comes back unchanged.
#include <cstdint>
#include <string>

#include "engine/VersionFile.h"
#include "ui/DisplayText.h"
#include "fuzz/FuzzSupport.h"

namespace {

fuzzsupport::ScratchFile g_file("ver");

bool IsPlainAscii(const uint8_t* data, size_t size) {
    for (size_t i = 0; i < size; ++i)
        if (!((data[i] >= 0x20 && data[i] < 0x7F) || data[i] == '\r' || data[i] == '\n' || data[i] == '\t'))
            return false;
    return true;
}

}  // namespace

FUZZ_INITIALIZE_SILENT_TRACE()

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    g_file.Write(data, size);
    VersionLines read;
    FUZZ_CHECK(ReadVersionLines(g_file.Path(), read) == 1);

    const size_t longest = VERSION_LINE_BUFFER - 1;
    // Dropped control characters shorten a line, so only printable ASCII text (and its '\n') tells
    // from a line's length that the text ended there.
    bool lengthsTell = true;
    for (size_t i = 0; i < size; ++i) lengthsTell &= (data[i] >= 0x20 && data[i] < 0x7F) || data[i] == '\n';
    std::wstring joined;
    bool ended = false;  // a line came back shorter than a whole line: the text ended there
    for (const std::wstring& line : read.lines) {
        if (ended) FUZZ_CHECK(line.empty());
        FUZZ_CHECK(line.size() <= longest);
        const size_t newline = line.find(L'\n');
        FUZZ_CHECK(newline == std::wstring::npos || newline + 1 == line.size());
        if (lengthsTell && newline == std::wstring::npos && line.size() < longest) ended = true;
        const std::wstring shown = TrimLineEnd(line);
        FUZZ_CHECK(shown.empty() || (shown.back() != L'\n' && shown.back() != L'\r'));
        FUZZ_CHECK(line.compare(0, shown.size(), shown) == 0);
        joined += line;
    }
    FUZZ_CHECK(joined.size() <= size);
    if (IsPlainAscii(data, size)) {
        // Control characters are dropped (a line keeps only its final '\n'); everything else comes
        // back unchanged and in order.
        auto printable = [](auto first, auto last) {
            std::string kept;
            for (; first != last; ++first)
                if (*first >= 0x20 && *first != 0x7F) kept += static_cast<char>(*first);
            return kept;
        };
        for (const wchar_t ch : joined) FUZZ_CHECK(ch >= 0x20 || ch == L'\n');
        const std::string source = printable(data, data + size);
        const std::string shown = printable(joined.begin(), joined.end());
        FUZZ_CHECK(source.compare(0, shown.size(), shown) == 0);
        if (ended) FUZZ_CHECK(shown == source);
    }
    return 0;
}
