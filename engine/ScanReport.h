// What a port scan found at each port it tried, in the engine's own terms: the front ends show it
// without knowing the serial port.
#pragma once

#include <string>
#include <utility>
#include <vector>

enum class PortFinding { Answered, Missing, PermissionDenied, Busy, LineSettings, NoAnswer, Other };

// The ports in the order they were tried (device path or COM name), each with what was found there.
using ScanReport = std::vector<std::pair<std::string, PortFinding>>;
