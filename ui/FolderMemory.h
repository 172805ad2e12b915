// The folder of update files the user chose last, kept per user between program runs. An installed
// program's own folder is no place for the user's update files, so the window remembers where they
// are. Kept in an INI file in the user's settings folder (QSettings, user scope), never the registry.
// UI thread only (a QApplication must exist).
#pragma once

#include <string>

// The folder chosen last (ending in a separator), or empty when none was chosen or it is gone.
std::wstring RememberedFolder();
void RememberFolder(const std::wstring& folder);
