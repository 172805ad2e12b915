#include "ui/DisplayText.h"

#include "base/Text.h"
#include "base/Trace.h"

std::wstring TrimLineEnd(const std::wstring& line) {
    size_t end = line.size();
    while (end > 0 && (line[end - 1] == L'\n' || line[end - 1] == L'\r')) --end;
    return line.substr(0, end);
}

std::wstring PortFindingText(PortFinding error) {
    switch (error) {
        case PortFinding::Answered: return L"устройство ответило";
        case PortFinding::Missing: return L"нет такого порта";
        case PortFinding::PermissionDenied:
            return L"нет доступа к порту: добавьте пользователя в группу dialout "
                   L"(sudo usermod -aG dialout $USER) и войдите в систему заново";
        case PortFinding::Busy: return L"порт занят другой программой: закройте программу, которая его держит";
        case PortFinding::LineSettings: return L"порт не принимает настройки линии";
        case PortFinding::NoAnswer: return L"устройство не ответило";
        default: return L"порт не открывается";
    }
}

std::wstring NoDeviceStatusText(const ScanReport& tried) {
    // A port another program holds is most likely the device itself: that is what the user must
    // act on, not "no device".
    for (const auto& [path, error] : tried) {
        if (error != PortFinding::Busy) continue;
        return L"Порт " + Utf8ToWide(path) + L" занят другой программой. Закройте программу, которая его "
               L"держит (терминал, другую программу обновления), поиск продолжается.";
    }
    // Ports that did not answer are not probed again by themselves (that would disturb whatever other
    // device sits on them), so the user is told how to ask.
    std::wstring text = L"Устройство не найдено. Подключите устройство к компьютеру: новый порт проверяется сразу. "
                        L"Если устройство уже подключено, нажмите «Искать снова».";
    for (const auto& [path, error] : tried) {
        if (error != PortFinding::PermissionDenied) continue;
        text += L"\nПорт " + Utf8ToWide(path) + L": " + PortFindingText(error) + L".";
        break;
    }
    return text;
}
