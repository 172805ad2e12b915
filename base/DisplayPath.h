// A path as the platform writes it, for the texts people read: "C:\Program Files\IAP Tool\" on
// Windows, where the programs build paths with '/' (Qt's and the C runtime's file calls take both);
// unchanged elsewhere. For display only: the programs keep opening files by the path as built.
// Pure functions; any thread.
#pragma once

#include <string>

std::wstring DisplayPath(const std::wstring& path);
std::string DisplayPath(const std::string& utf8Path);
