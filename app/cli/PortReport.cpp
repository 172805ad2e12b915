#include "app/cli/PortReport.h"

#include <cwchar>

#include "app/cli/TextOut.h"
#include "engine/frame/Trace.h"
#include "transport/PortList.h"

namespace {

const wchar_t* const kHowToGivePorts =
    L"Укажите порт: iap-cli --port /dev/ttyUSB0 (можно несколько раз) "
    L"или IAP_PORTS=/dev/ttyUSB0:/dev/ttyACM0 iap-cli";

}  // namespace

std::wstring NoDeviceText(const std::vector<std::pair<std::string, CSerial::OpenError>>& tried) {
    if (tried.empty())
        return std::wstring(L"Устройство не найдено: нет ни одного последовательного порта. ") + kHowToGivePorts;
    std::wstring text = L"Устройство не ответило ни на одном порту. Проверены:";
    for (const auto& [path, error] : tried) text += L"\n  " + Utf8ToWide(path) + L": " + OpenErrorText(error);
    return text;
}

int ListPorts(std::FILE* out) {
    const std::vector<std::string> ports = GetPortList();
    if (ports.empty()) {
        PrintText(out, std::wstring(L"Последовательные порты не найдены. ") + kHowToGivePorts + L"\n");
        return 0;
    }
    for (size_t i = 0; i < ports.size(); ++i) {
        wchar_t number[32] = {};
        std::swprintf(number, 32, L"порт %zu: ", i + 1);
        PrintText(out, number + Utf8ToWide(ports[i]) + L"\n");
    }
    return 0;
}
