#include "ui/UpdateSetText.h"

#include "base/Text.h"

namespace {

std::wstring FileName(const UpdateFileCheck& file) { return Utf8ToWide(file.name); }

std::wstring StateText(const UpdateFileCheck& file) {
    switch (file.status.state) {
        case ImageState::Absent: return L"нет";
        case ImageState::Ready: return L"готов к отправке";
        case ImageState::Empty:
            return BlocksRun(file) ? L"пустой файл, обновление не начнётся" : L"пустой файл, будет пропущен";
        case ImageState::Refused: return L"ошибка: " + file.status.reason;
    }
    return {};
}

}  // namespace

std::wstring FileStatesText(const UpdateSet& set) {
    std::wstring text;
    for (const UpdateFileCheck& file : set.files) {
        if (!text.empty()) text += L'\n';
        text += FileName(file) + L": " + StateText(file);
    }
    return text;
}

std::wstring BlockedRunText(const UpdateFileCheck& file) {
    if (file.status.state == ImageState::Empty)
        return L"Файл " + FileName(file) + L" пуст: положите в папку целый файл прошивки или уберите пустой. "
               L"До тех пор обновление не начнётся.";
    return L"Файл " + FileName(file) + L" не будет отправлен: " + file.status.reason +
           L". Замените файл целым или уберите его из папки; до тех пор обновление не начнётся.";
}

std::wstring ShownVersionText(const ShownVersion& version) {
    if (version.listed.empty()) return version.text;
    return version.text + L" (в ver.txt: " + version.listed + L")";
}

std::wstring ChooseFolderHint() {
    return L"Выберите папку с файлами обновления кнопкой «Папка...» или перетащите её в окно.";
}

std::wstring FolderTakenText(const std::wstring& folder) { return L"Теперь файлы обновления берутся из папки " + folder + L"."; }

std::wstring SettingsPendingText() {
    return L"Изменённые настройки будут записаны в устройство при нажатии «Обновить».";
}

std::wstring SettingsOnlyRunText() { return L"Файлов обновления нет: в устройство записываются только настройки..."; }

std::wstring SettingsOnlyDoneText() { return L"Настройки записаны в устройство. Файлов обновления для отправки не было."; }
