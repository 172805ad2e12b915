// Port numbers. On Windows port n is "\\.\COMn". On POSIX port n (1-based) is the n-th entry of the
// port list: the paths a front end gave (SetPortList, from --port options), else the IAP_PORTS
// environment variable (colon-separated), else the system's serial devices in a stable order
// (/dev/ttyUSB*, /dev/ttyACM*, then /dev/ttyS*; /dev/cu.* on macOS). Ports beyond the list do not
// exist. Thread-safe.
#pragma once

#include <string>
#include <vector>

// Replaces the user-given list (an empty list falls back to IAP_PORTS, then to the system's devices).
void SetPortList(const std::vector<std::string>& paths);
// The list as it stands now.
std::vector<std::string> GetPortList();
// The device path of port n (1-based), or an empty string when there is no such port.
std::string PortPath(unsigned port);
