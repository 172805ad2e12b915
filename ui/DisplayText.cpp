#include "ui/DisplayText.h"

#include "base/Text.h"
#include "base/Trace.h"

std::wstring TrimLineEnd(const std::wstring& line) {
    size_t end = line.size();
    while (end > 0 && (line[end - 1] == L'\n' || line[end - 1] == L'\r')) --end;
    return line.substr(0, end);
}

std::wstring OpenErrorText(CSerial::OpenError error) {
    switch (error) {
        case CSerial::OpenError::None: return L"устройство ответило";
        case CSerial::OpenError::Missing: return L"нет такого порта";
        case CSerial::OpenError::PermissionDenied:
            return L"нет доступа к порту: добавьте пользователя в группу dialout "
                   L"(sudo usermod -aG dialout $USER) и войдите в систему заново";
        case CSerial::OpenError::Busy: return L"порт занят другой программой: закройте программу, которая его держит";
        case CSerial::OpenError::LineSettings: return L"порт не принимает настройки линии";
        case CSerial::OpenError::NoAnswer: return L"устройство не ответило";
        default: return L"порт не открывается";
    }
}

std::wstring NoDeviceStatusText(const std::vector<std::pair<std::string, CSerial::OpenError>>& tried) {
    // A port another program holds is most likely the device itself: that is what the user must
    // act on, not "no device".
    for (const auto& [path, error] : tried) {
        if (error != CSerial::OpenError::Busy) continue;
        return L"Порт " + Utf8ToWide(path) + L" занят другой программой. Закройте программу, которая его "
               L"держит (терминал, другую программу обновления), поиск продолжается.";
    }
    std::wstring text = L"Устройство не найдено. Подключите устройство к компьютеру, поиск продолжается.";
    for (const auto& [path, error] : tried) {
        if (error != CSerial::OpenError::PermissionDenied) continue;
        text += L"\nПорт " + Utf8ToWide(path) + L": " + OpenErrorText(error) + L".";
        break;
    }
    return text;
}
