// Windows numbers its serial ports itself: without a user list port n is "\\.\COMn", which also
// reaches COM10 and above. The registry's list of present ports (HARDWARE\DEVICEMAP\SERIALCOMM, kept
// by the port drivers: value name the driver's device, data the port name) is what --list-ports shows
// and what a device search tries; only when it cannot be read does a search try COM1 upwards.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <algorithm>
#include <string>

#include "base/Text.h"
#include "transport/PortListScan.h"

namespace {

struct RegistryPort {
    std::wstring device;  // "\Device\Serial0", "\Device\BthModem3", ...
    std::string name;     // "COM3"
};

// The SERIALCOMM key's values; false when the key cannot be read (then nothing says which ports exist).
bool ReadRegistryPorts(std::vector<RegistryPort>& ports) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return false;
    for (DWORD index = 0;; ++index) {
        wchar_t valueName[256] = {};
        DWORD valueNameChars = 256;
        wchar_t data[256] = {};
        DWORD dataBytes = sizeof data - sizeof(wchar_t);
        DWORD type = 0;
        const LONG result = RegEnumValueW(key, index, valueName, &valueNameChars, nullptr, &type,
                                          reinterpret_cast<BYTE*>(data), &dataBytes);
        if (result == ERROR_NO_MORE_ITEMS) break;
        // A value too long for a port name is not one; the rest may still be.
        if (result != ERROR_SUCCESS || type != REG_SZ) continue;
        size_t chars = dataBytes / sizeof(wchar_t);
        while (chars > 0 && data[chars - 1] == L'\0') --chars;
        if (chars > 0) ports.push_back({std::wstring(valueName, valueNameChars), WideToUtf8(std::wstring(data, chars))});
    }
    RegCloseKey(key);
    return true;
}

// Bluetooth serial ports are listed by the Bluetooth stack's modem driver; opening one may wait for
// the paired device for seconds.
bool IsBluetoothDevice(const std::wstring& device) {
    constexpr wchar_t kPrefix[] = L"\\Device\\BthModem";
    return device.compare(0, std::size(kPrefix) - 1, kPrefix) == 0;
}

}  // namespace

std::string UserPortPath(const std::string& entry) { return ComPortPath(entry); }

std::vector<std::string> SystemPortList() {
    std::vector<RegistryPort> ports;
    ReadRegistryPorts(ports);
    std::vector<std::string> names;
    for (const RegistryPort& port : ports) names.push_back(port.name);
    return ComPortPaths(names);
}

std::vector<PortCandidate> SystemCandidates(unsigned portLimit) {
    std::vector<RegistryPort> ports;
    std::vector<PortCandidate> candidates;
    if (!ReadRegistryPorts(ports)) {
        for (unsigned port = 1; port < portLimit && port <= 255; ++port)
            candidates.push_back({port, SystemPortPath(port), false});
        return candidates;
    }
    for (const RegistryPort& port : ports) {
        const unsigned number = ComPortNumber(port.name);
        // A port that is no COM name has no number a search could open it by.
        if (number == 0) continue;
        const bool known = std::any_of(candidates.begin(), candidates.end(),
                                       [&](const PortCandidate& c) { return c.port == number; });
        if (!known) candidates.push_back({number, SystemPortPath(number), IsBluetoothDevice(port.device)});
    }
    // Number order within each group, Bluetooth ports after all the others.
    std::sort(candidates.begin(), candidates.end(), [](const PortCandidate& a, const PortCandidate& b) {
        return a.last != b.last ? b.last : a.port < b.port;
    });
    return candidates;
}

unsigned SystemPortNumber(const std::vector<std::string>& list, size_t index) {
    return index < list.size() ? ComPortNumber(list[index]) : 0;
}

std::string SystemPortPath(unsigned port) {
    return port == 0 ? std::string() : "\\\\.\\COM" + std::to_string(port);
}
