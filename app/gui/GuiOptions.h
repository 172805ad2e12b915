// The window program's command line. Options of its own start with "--"; anything else is left to Qt
// (such as "-platform offscreen"). The options it shares with iap-cli are declared once
// (app/common/CommonOptions.h) and follow the same rules (options/OptionSet.h).
#pragma once

#include <string>
#include <vector>

struct GuiOptions {
    std::vector<std::string> ports;  // --port PORT, in order: the ports the engine scans (paths; COM names on Windows)
    std::wstring folder;             // --folder DIR, absolute with a trailing '/'; empty: the program's
    bool automation = false;         // --automation: take commands on standard input (tests, screenshots)
    bool help = false;
    std::string error;               // not empty when the command line is wrong
};

// `args` are the UTF-8 arguments after the program name (CommandLineArgs). A relative folder is taken
// from the current folder at the time of the call (before start-up moves to the program's folder).
GuiOptions ParseGuiOptions(const std::vector<std::string>& args);
// The --help text.
std::string GuiUsage();
