// How the user names the device's port, in the platform's own words: Windows users know COM ports,
// Linux users device files. Used by the help of both programs and by iap-cli's hints. Platform part
// (PortHints_posix.cpp / PortHints_win32.cpp); constant texts, any thread.
#pragma once

// The help text of --port (UTF-8, lines of the help's width).
const char* PortOptionHelp();
// What to do when no port was found: the options and the variable that name ports.
const wchar_t* HowToGivePorts();
