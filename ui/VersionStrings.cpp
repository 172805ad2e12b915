#include "ui/VersionStrings.h"

std::wstring VerDeviceType;
std::wstring VerFileFirmware;
std::wstring VerFileData;
std::wstring VerFileRadar;
