// Line faults the simulator injects on purpose, so tests can watch the tool cope with a lost,
// refused, corrupt, duplicated or interrupted answer, or with a line that goes away.
//
// A rule names a command code and the ordinal N of the frame carrying it: "the 3rd 0x23 frame".
// Ordinals count every valid frame received with that code since start, from 1 (the tool's probe is
// therefore 'E' #1 and its device-information request 'E' #2). Single-threaded use.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

enum class FaultKind {
    NoAnswer,     // the answer is lost on the line; the device still acts on the frame
    // The device stops reading the line after this frame: its answer goes out together with the
    // answers of the next frames of its kind, ahead of them (as a device whose answers ran ahead
    // would), then nothing more is read, so what the tool writes fills the line's buffer.
    StopReading,
    StopReadingAtFrame,  // the same after the N-th frame of any code (the rule's cmd is not used)
    Reject,       // the device refuses the frame: a status other than accepted, nothing stored
    Corrupt,      // the answer goes out with a wrong checksum
    Duplicate,    // the answer goes out twice
    NoticeAfter,  // a 0x1B device notice follows the answer
    HangUp,       // the device goes away: no answer, and the simulator closes the line and exits
    // An answer nobody asked for: rule.cmd is the answer code, rule.ordinal the number of the frame
    // (counting every valid frame received, of any code, from 1) before whose answers it goes.
    StrayAnswer,
    DupThenRefuse,  // the answer goes out twice, and the next frame with this code is refused
};

struct FaultRule {
    FaultKind kind;
    uint8_t cmd;
    unsigned ordinal;  // 1 = the first frame with this code
};

class CFaultPlan {
public:
    void Add(const FaultRule& rule) { rules_.push_back(rule); }
    bool Has(FaultKind kind, uint8_t cmd, unsigned ordinal) const;
    // A rule of `kind` for the `frame`-th frame of any code.
    bool HasFrame(FaultKind kind, unsigned frame) const;
    bool Empty() const { return rules_.empty(); }
    const std::vector<FaultRule>& Rules() const { return rules_; }
    // The stray answer codes that go before the answers to frame `frameNumber` (any code).
    std::vector<uint8_t> StraysBefore(unsigned frameNumber) const;

    // Whole-device faults. Settings answers carry this many block bytes instead of 73 (-1: 73).
    int shortSettingsBytes = -1;
    // The device-information answer echoes this command byte instead of 0x45 (-1: 0x45).
    int infoEcho = -1;

private:
    std::vector<FaultRule> rules_;
};

// Parses "CMD@N" (CMD 0x00..0xFF in hex with 0x prefix or decimal, N >= 1). Returns 1 and fills
// cmd/ordinal, or 0 with a readable reason in `error`.
int ParseFaultSpec(const std::string& text, uint8_t& cmd, unsigned& ordinal, std::string& error);

// Parses an unsigned number, hex with a 0x prefix or decimal, within [minValue, maxValue].
// Returns 1 on success, 0 for anything else (empty, sign, trailing characters, out of range).
int ParseUnsigned(const std::string& text, unsigned long minValue, unsigned long maxValue,
                  unsigned long& value);
