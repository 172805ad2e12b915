// Command line of iap-devsim.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sim/FaultPlan.h"

// Exit status for a bad command line (sysexits EX_USAGE).
constexpr int SIM_EXIT_USAGE = 64;

struct SimOptions {
    std::string linkPath;         // symlink to the pty slave; empty = none
    unsigned linkDelayMs = 0;     // the symlink appears this long after the start (a device plugged in late)
    // --restart-reopen: after answering the firmware end the device restarts as a re-enumerating USB
    // device does: its port goes away restartCloseMs later and comes back (the same --link path, a
    // new pty) restartAwayMs after that.
    bool restartReopen = false;
    unsigned restartCloseMs = 0;
    unsigned restartAwayMs = 0;
    std::string devicePath;       // a real serial device instead of a pty; empty = pty
    std::string outDir;           // where received images and logs go; empty = nothing written
    std::string makeSamplesDir;   // non-empty: write the sample set there and exit
    std::string settingsFile;     // 73-byte device settings block; empty = built-in default
    std::string settingsInfoFile; // 73-byte settings information block; empty = built-in default
    unsigned baud = 0;            // pty: pacing rate, 0 = none; device: line speed, 0 = 256000
    uint16_t firmwareVersion = 12;
    uint16_t dataVersion = 256;
    uint16_t radarVersion = 0x1a2b;
    unsigned delayMs = 0;         // before every answer
    unsigned probeDelayMs = 0;    // before answers to 'E' only
    bool exitAfterFinish = false;
    bool silent = false;
    bool split = false;
    bool junk = false;
    bool probeJunk = false;       // junk bytes before the answers to 'E'
    bool help = false;
    bool hasSeed = false;
    uint32_t seed = 0;                // --seed: random faults, see FaultSeed.h
    std::vector<std::string> seedArgs;  // the options the seed stands for (already applied)
    CFaultPlan faults;
};

// Fills `options` from the arguments (without the program name), by the rules every program here
// follows (base/OptionSet.h): "--name value" or "--name=value"; a value option given twice keeps the
// last value, a frame fault (CMD@N) keeps every one. Numbers are decimal or 0x hex. Returns 1 on
// success; 0 with a one-line reason in `error` otherwise.
int ParseOptions(const std::vector<std::string>& args, SimOptions& options, std::string& error);

// Every option ParseOptions takes (its long names), from the same declarations as the help.
std::vector<std::string> OptionNames();

// The --help text, laid out from the declarations.
std::string UsageText();
