// Reads what the simulator wrote with --out: its frame log and received images.
#pragma once

#include <cstdint>
#include <map>
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

// summary.txt as name -> value: the last word of each line is the value ("ended rdfwd.bin" -> "1").
std::map<std::string, std::string> ReadSummary(const std::string& outDir);

// What is wrong with the images the simulator recorded in `outDir`, compared with the update files
// in `filesDir`; empty when nothing is. Every file there with content must have arrived whole: the
// data images byte for byte, the firmware as memory at its load addresses, each closed by its end
// command (the firmware's accepted by the device). An absent or empty file must not have reached the device at all.
std::string ReceivedImagesProblem(const std::string& filesDir, const std::string& outDir);

}  // namespace testsupport
