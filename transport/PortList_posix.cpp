// The system's serial devices on POSIX: USB adapters first (the device is normally on one), then
// the on-board ports.
#include "transport/PortListScan.h"

namespace {

std::vector<std::string> DevicePrefixes() {
#if defined(__APPLE__)
    // The callout devices: opening them does not wait for carrier detect.
    return {"cu."};
#else
    return {"ttyUSB", "ttyACM", "ttyS"};
#endif
}

}  // namespace

// A POSIX entry is a device path already.
std::string UserPortPath(const std::string& entry) { return entry; }

std::vector<std::string> SystemPortList() { return ScanSerialDevices("/dev", DevicePrefixes()); }

unsigned SystemPortNumber(const std::vector<std::string>& /*list*/, size_t index) {
    return static_cast<unsigned>(index + 1);
}

std::string SystemPortPath(unsigned port) {
    const std::vector<std::string> devices = SystemPortList();
    return port >= 1 && port <= devices.size() ? devices[port - 1] : std::string();
}
