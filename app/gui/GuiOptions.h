// The window program's command line. Options of its own start with "--"; anything else is left to Qt
// (such as "-platform offscreen").
#pragma once

#include <string>
#include <vector>

struct GuiOptions {
    std::vector<std::string> ports;  // --port PATH, in order: the ports the engine scans (POSIX)
    std::wstring folder;             // --folder DIR, absolute with a trailing separator; empty: the program's
    bool automation = false;         // --automation: take commands on standard input (tests, screenshots)
    bool help = false;
    std::string error;               // not empty when the command line is wrong
};

// Relative folders are taken from the current folder at the time of the call (before start-up moves
// to the program's folder).
GuiOptions ParseGuiOptions(int argc, char** argv);
const char* GuiUsage();
