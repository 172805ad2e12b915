#include "ui/VersionStrings.h"

std::wstring VerDeviceType;
std::wstring VerFileFirmware;
std::wstring VerFileData;
std::wstring VerFileRadar;

std::wstring WithoutLineEnd(const std::wstring& text) {
    size_t end = text.size();
    while (end > 0 && (text[end - 1] == L'\n' || text[end - 1] == L'\r')) --end;
    return text.substr(0, end);
}
