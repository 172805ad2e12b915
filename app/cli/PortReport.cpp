#include "app/cli/PortReport.h"

#include <cwchar>

#include "app/cli/TextOut.h"
#include "app/common/PortHints.h"
#include "base/Text.h"
#include "base/Trace.h"
#include "transport/PortList.h"

std::wstring NoDeviceText(const ScanReport& tried) {
    if (tried.empty())
        return std::wstring(L"Устройство не найдено: нет ни одного последовательного порта. ") + HowToGivePorts();
    std::wstring text = L"Устройство не ответило ни на одном порту. Проверены:";
    for (const auto& [path, error] : tried) text += L"\n  " + Utf8ToWide(path) + L": " + PortFindingText(error);
    return text;
}

int ListPorts(std::FILE* out) {
    const std::vector<std::pair<unsigned, std::string>> ports = NumberedPortList();
    if (ports.empty()) {
        PrintText(out, std::wstring(L"Последовательные порты не найдены. ") + HowToGivePorts() + L"\n");
        return 0;
    }
    for (const auto& [number, path] : ports) {
        wchar_t label[32] = {};
        // A registry entry that is no COM name has no number the scan would reach.
        if (number == 0)
            std::swprintf(label, 32, L"порт —: ");
        else
            std::swprintf(label, 32, L"порт %u: ", number);
        PrintText(out, label + Utf8ToWide(path) + L"\n");
    }
    return 0;
}
