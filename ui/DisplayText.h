// Text helpers shared by the windows and the command line. Plain C++ (no Qt), any thread.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "engine/ScanReport.h"

// `line` without its trailing CR/LF: the lines of "ver.txt" keep their terminator, a one-line label or
// a report line shows none.
std::wstring TrimLineEnd(const std::wstring& line);

// Why a port could not be used, in words a user can act on.
std::wstring PortFindingText(PortFinding error);
// What the main window says while no device answers: connect it, the search goes on; and, when a port
// could not be opened for lack of permission, which one and what to do. A port held by another
// program is said instead, with what to do.
std::wstring NoDeviceStatusText(const ScanReport& tried);
