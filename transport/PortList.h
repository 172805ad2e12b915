// Port numbers. Port n (1-based) is the n-th entry of the list a front end gave (SetPortList, from
// --port options), else of the IAP_PORTS environment variable (colon-separated); ports beyond that
// list do not exist. On Windows its entries may be port names ("COM20", "com20"), which stand for
// "\\.\COM20". Without such a list, on POSIX port n is the n-th of the system's serial devices in a
// stable order (/dev/ttyUSB*, /dev/ttyACM*, then /dev/ttyS*; /dev/cu.* on macOS), and on Windows
// port n is "\\.\COMn" (GetPortList then gives the COM ports the registry lists). Thread-safe.
//
// A device search tries SearchCandidates(): the given list, else the ports the system says are present
// (never a fixed range of numbers, unless the system's list cannot be read).
#pragma once

#include <string>
#include <utility>
#include <vector>

// Replaces the user-given list (an empty list falls back to IAP_PORTS, then to the system's devices).
void SetPortList(const std::vector<std::string>& paths);
// The list as it stands now, as device paths.
std::vector<std::string> GetPortList();
// The list with each entry's port number: its place in a given list, or its number on the system
// (on Windows "\\.\COM20" is port 20 whatever its place in the registry's list).
std::vector<std::pair<unsigned, std::string>> NumberedPortList();
// The device path of port n (1-based), or an empty string when there is no such port.
std::string PortPath(unsigned port);
// A port a device search tries: its number (PortPath(port) is `path`) and whether it is one a car
// device never hangs off (a Bluetooth serial port), which a search tries only after the others.
struct PortCandidate {
    unsigned port = 0;
    std::string path;
    bool last = false;
};
// The ports a device search tries, in search order, with numbers below `portLimit` where the numbers
// are places in a list. A given list (SetPortList, IAP_PORTS): its entries as given. Otherwise the
// system's present ports: on Windows the registry's list (HARDWARE\DEVICEMAP\SERIALCOMM) in number
// order, whatever the number, its Bluetooth ports last, and COM1 up to the limit only when that list
// cannot be read; on POSIX the devices of SystemPortList, Bluetooth (rfcomm) last.
std::vector<PortCandidate> SearchCandidates(unsigned portLimit);
// The number the probe and the device-information request carry for port n: the COM number when the
// entry is a COM port name ("COM20", "com20", "\\.\COM20": 20), else n itself. 0 for port 0.
unsigned PortByte(unsigned port);
