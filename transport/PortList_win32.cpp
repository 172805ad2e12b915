// Windows numbers its serial ports itself: without a user list port n is "\\.\COMn", which also
// reaches COM10 and above, so a scan finds a port whatever the registry says. The registry's list
// of present ports (HARDWARE\DEVICEMAP\SERIALCOMM, kept by the port drivers) is what --list-ports
// shows.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <string>

#include "base/Text.h"
#include "transport/PortListScan.h"

namespace {

// The port names of the SERIALCOMM key: its values' data, such as "COM3" (the value names are the
// drivers' device names, "\Device\Serial0").
std::vector<std::string> RegistryPortNames() {
    std::vector<std::string> names;
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return names;
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
        if (chars > 0) names.push_back(WideToUtf8(std::wstring(data, chars)));
    }
    RegCloseKey(key);
    return names;
}

}  // namespace

std::string UserPortPath(const std::string& entry) { return ComPortPath(entry); }

std::vector<std::string> SystemPortList() { return ComPortPaths(RegistryPortNames()); }

unsigned SystemPortNumber(const std::vector<std::string>& list, size_t index) {
    return index < list.size() ? ComPortNumber(list[index]) : 0;
}

std::string SystemPortPath(unsigned port) {
    return port == 0 ? std::string() : "\\\\.\\COM" + std::to_string(port);
}
