#include "ui/DisplayText.h"

std::wstring TrimLineEnd(const std::wstring& line) {
    size_t end = line.size();
    while (end > 0 && (line[end - 1] == L'\n' || line[end - 1] == L'\r')) --end;
    return line.substr(0, end);
}
