// The pieces of the port-list rules of PortList.h, apart so tests can check them one by one.
// Pure functions (ScanSerialDevices reads a folder); any thread may call them.
#pragma once

#include <string>
#include <vector>

#include "transport/PortList.h"

// The entries of a colon-separated list, in order; empty entries are dropped.
std::vector<std::string> SplitPortListText(const std::string& text);

// Name order in which runs of digits compare by value: "ttyS2" before "ttyS10".
bool NaturalLess(const std::string& a, const std::string& b);

// The entries of `folder` whose names start with one of `prefixes` and go on after it, as
// folder + "/" + name: grouped by prefix in the given order, naturally sorted within a group.
// An unreadable or missing folder gives an empty list.
std::vector<std::string> ScanSerialDevices(const std::string& folder, const std::vector<std::string>& prefixes);

// False when the kernel's serial core says that the tty `name` has no UART behind it: the file
// `sysClassTty`/name/type reads 0 (the placeholders ttyS1..ttyS31 that every PC kernel creates). A
// tty without that file (a USB adapter, a pseudo-terminal, a system without sysfs) counts as present.
bool SerialDevicePresent(const std::string& sysClassTty, const std::string& name);

// Windows port names: "COM20", "com20", "\\.\COM20" (any case) all stand for "\\.\COM20", the form
// that also reaches COM10 and above. Any other entry (a device path of another driver) stays as given.
std::string ComPortPath(const std::string& name);
// The number of such a port name (20 for all three), 0 for any other entry.
unsigned ComPortNumber(const std::string& name);
// Port names as the registry lists them, as ComPortPath gives them, without repeats, in number order.
std::vector<std::string> ComPortPaths(const std::vector<std::string>& names);

// Platform part (PortList_posix.cpp / PortList_win32.cpp).
// The device path to open for an entry of a user-given list (--port, IAP_PORTS).
std::string UserPortPath(const std::string& entry);
// The system's serial devices when neither a user list nor IAP_PORTS is given.
std::vector<std::string> SystemPortList();
// The device of port n (1-based) in that case; empty when there is none.
std::string SystemPortPath(unsigned port);
// The number n for which SystemPortPath(n) is list[index], `list` being SystemPortList().
unsigned SystemPortNumber(const std::vector<std::string>& list, size_t index);
// SearchCandidates without a given list.
std::vector<PortCandidate> SystemCandidates(unsigned portLimit);
