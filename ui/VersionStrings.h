// The four lines of "ver.txt" as the main window shows them: the device type the update files are
// meant for and the versions of the firmware, data and radar files. Empty at start; start-up fills
// them before the main window opens. UI thread only.
#pragma once

#include <string>

extern std::wstring VerDeviceType;
extern std::wstring VerFileFirmware;
extern std::wstring VerFileData;
extern std::wstring VerFileRadar;
