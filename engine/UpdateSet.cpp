#include "engine/UpdateSet.h"

#include <cwchar>
#include <cwctype>
#include <filesystem>
#include <system_error>

#include "base/Text.h"
#include "engine/UpdateStep.h"
#include "files/Utf8Path.h"

namespace {

std::wstring WithoutLineEnd(std::wstring line) {
    while (!line.empty() && (line.back() == L'\n' || line.back() == L'\r')) line.pop_back();
    return line;
}

std::wstring Hex4(uint16_t value) {
    wchar_t text[8];
    std::swprintf(text, sizeof text / sizeof text[0], L"%04x", static_cast<unsigned>(value));
    return text;
}

bool SameVersion(const std::wstring& a, const std::wstring& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::towlower(a[i]) != std::towlower(b[i])) return false;
    return true;
}

// What stands in for the version of a file that will not be sent.
std::wstring StateWord(ImageState state) {
    switch (state) {
        case ImageState::Absent: return L"нет файла";
        case ImageState::Empty: return L"пустой файл";
        case ImageState::Refused: return L"файл с ошибкой";
        case ImageState::Ready: break;
    }
    return {};
}

ShownVersion ListedVersion(const UpdateSet& set, int step, size_t line) {
    const UpdateFileCheck* file = set.File(step);
    if (file == nullptr || file->status.state != ImageState::Ready) return {StateWord(file ? file->status.state : ImageState::Absent), {}};
    const std::wstring listed = WithoutLineEnd(set.versionFile.lines[line]);
    return {listed.empty() ? std::wstring(L"нет в ver.txt") : listed, {}};
}

}  // namespace

bool BlocksRun(const UpdateFileCheck& check) {
    if (check.status.state == ImageState::Refused) return true;
    return check.status.state == ImageState::Empty && check.image != nullptr && check.image->reader == ImageReaderKind::Hex;
}

const UpdateFileCheck* UpdateSet::Blocking() const {
    for (const UpdateFileCheck& check : files)
        if (BlocksRun(check)) return &check;
    return nullptr;
}

bool UpdateSet::AnyToSend() const {
    for (const UpdateFileCheck& check : files)
        if (check.status.state == ImageState::Ready) return true;
    return false;
}

const UpdateFileCheck* UpdateSet::File(int step) const {
    for (const UpdateFileCheck& check : files)
        if (check.image != nullptr && check.image->step == step) return &check;
    return nullptr;
}

UpdateSet ReadUpdateSet(const std::string& folder) {
    UpdateSet set;
    set.folder = folder;
    set.files = CheckUpdateFiles(folder);
    set.versionFileFound = ReadVersionLines(folder + "ver.txt", set.versionFile) != 0;
    return set;
}

bool HoldsUpdateFiles(const std::string& folder) {
    for (const ImageRow& row : ImageRows()) {
        std::error_code error;
        if (std::filesystem::exists(PathFromUtf8(folder + WideToUtf8(row.fileName)), error)) return true;
    }
    return false;
}

ShownVersion FirmwareVersionShown(const UpdateSet& set) {
    const UpdateFileCheck* hex = set.File(StepProject);
    if (hex == nullptr || hex->status.state != ImageState::Ready) return {StateWord(hex ? hex->status.state : ImageState::Absent), {}};
    ShownVersion shown{Hex4(hex->version), {}};
    const std::wstring listed = WithoutLineEnd(set.versionFile.lines[1]);
    // A "ver.txt" left over from another set must not pass for the firmware's version.
    if (!listed.empty() && !SameVersion(listed, shown.text)) shown.listed = listed;
    return shown;
}

ShownVersion DataVersionShown(const UpdateSet& set) { return ListedVersion(set, StepEDog, 2); }

ShownVersion RadarVersionShown(const UpdateSet& set) { return ListedVersion(set, StepRadar, 3); }
