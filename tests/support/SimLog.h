// Reads what the simulator wrote with --out: its frame log and received images.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace testsupport {

struct LoggedFrame {
    bool fromTool;               // "> " lines: received by the device
    std::vector<uint8_t> bytes;  // as logged (long frames: only their first bytes)
    int size;                    // the frame's whole size
    uint8_t Cmd() const { return bytes.size() > 3 ? bytes[3] : 0; }
};

std::vector<LoggedFrame> ReadFrameLog(const std::string& outDir);
// Command codes the device received, in order.
std::vector<uint8_t> CommandsReceived(const std::vector<LoggedFrame>& frames);
// The received commands with repeats of the same code folded into one ("E G I 1C 06 1A ...").
std::vector<uint8_t> CommandRuns(const std::vector<uint8_t>& commands);
int CountCommand(const std::vector<uint8_t>& commands, uint8_t cmd);

}  // namespace testsupport
