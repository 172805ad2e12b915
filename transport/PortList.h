// Port numbers. Port n (1-based) is the n-th entry of the list a front end gave (SetPortList, from
// --port options), else of the IAP_PORTS environment variable (colon-separated); ports beyond that
// list do not exist. On Windows its entries may be port names ("COM20", "com20"), which stand for
// "\\.\COM20". Without such a list, on POSIX port n is the n-th of the system's serial devices in a
// stable order (/dev/ttyUSB*, /dev/ttyACM*, then /dev/ttyS*; /dev/cu.* on macOS), and on Windows
// port n is "\\.\COMn" (GetPortList then gives the COM ports the registry lists). Thread-safe.
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
// The number the probe and the device-information request carry for port n: the COM number when the
// entry is a COM port name ("COM20", "com20", "\\.\COM20": 20), else n itself. 0 for port 0.
unsigned PortByte(unsigned port);
