// The system's serial devices on POSIX: USB adapters first (the device is normally on one), then
// the on-board ports that have a UART, then Bluetooth serial links (rfcomm), which a car device never
// uses and whose open may wait for a remote device.
#include "transport/PortListScan.h"

namespace {

std::vector<std::string> DevicePrefixes() {
#if defined(__APPLE__)
    // The callout devices: opening them does not wait for carrier detect.
    return {"cu."};
#else
    return {"ttyUSB", "ttyACM", "ttyS", "rfcomm"};
#endif
}

constexpr const char* kBluetoothPrefix = "/dev/rfcomm";

}  // namespace

// A POSIX entry is a device path already.
std::string UserPortPath(const std::string& entry) { return entry; }

std::vector<std::string> SystemPortList() {
    std::vector<std::string> present;
    for (std::string& path : ScanSerialDevices("/dev", DevicePrefixes()))
        if (SerialDevicePresent("/sys/class/tty", path.substr(path.rfind('/') + 1))) present.push_back(std::move(path));
    return present;
}

std::vector<PortCandidate> SystemCandidates(unsigned portLimit) {
    const std::vector<std::string> devices = SystemPortList();
    std::vector<PortCandidate> candidates;
    for (size_t i = 0; i < devices.size() && i + 1 < portLimit && i < 255; ++i)
        candidates.push_back({static_cast<unsigned>(i + 1), devices[i], devices[i].rfind(kBluetoothPrefix, 0) == 0});
    return candidates;
}

unsigned SystemPortNumber(const std::vector<std::string>& /*list*/, size_t index) {
    return static_cast<unsigned>(index + 1);
}

std::string SystemPortPath(unsigned port) {
    const std::vector<std::string> devices = SystemPortList();
    return port >= 1 && port <= devices.size() ? devices[port - 1] : std::string();
}
