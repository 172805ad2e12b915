// The options iap-cli and iap-tool share, declared once so that they read and refuse them alike:
//   --port PORT   repeatable; a device path on POSIX, a COM name ("COM20") on Windows
//   --folder DIR  the folder of the update files and ver.txt, as given (a Windows path may use '\')
//   --help, -h
// Arguments are UTF-8 text (on Windows converted from the wide command line, see CommandLine.h), so a
// folder named in Cyrillic arrives intact.
#pragma once

#include <string>
#include <vector>

#include "base/OptionSet.h"

void AddCommonOptions(COptionSet& options, std::vector<std::string>& ports, std::string& folder);
// Declared after a program's own options, so that the help lists it last. Returns the flag, for the
// program to see whether (and when) it was given.
const CLI::Option* AddHelpOption(COptionSet& options);
