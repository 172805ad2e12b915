// How a transfer compares with what the serial line allows. The protocol waits for every answer
// before the next frame, so the tool's frames and the device's answers never share the line: the
// limit is the wire time of both directions together, 10 bit times a byte (8N1). What is left over
// is the tool's turnaround and the device's own time.
#pragma once

#include <cstdint>
#include <string>

#include "engine/TurnaroundMeter.h"

struct LineUse {
    uint64_t bytesOut = 0;  // from the tool to the device
    uint64_t bytesIn = 0;   // the device's answers
    uint32_t measuredMs = 0;
    uint32_t baud = 0;
};

// Seconds both directions' bytes take on the wire; 0 at 0 baud.
double WireSeconds(const LineUse& use);
// Wire time over measured time (1 = the line never idled); 0 when nothing was measured.
double LineEfficiency(const LineUse& use);

// The summary table of iap-cli: a header naming the line, one row per step (records >= 0 adds the
// firmware's records per second), a total.
std::wstring LineSummaryHeader(uint32_t baud);
std::wstring LineSummaryRow(const wchar_t* name, const LineUse& use, int records, bool failed);

// The tool's own share: its turnaround between an answer and the next frame, and the line
// efficiency the run would have had if that were the only time besides the wire (`wireSeconds` of
// the whole run). Empty when nothing was measured.
std::wstring TurnaroundLine(const TurnaroundStats& stats, double wireSeconds);
