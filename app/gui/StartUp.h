// Start-up steps of the window program that come before the main window. UI thread only.
#pragma once

#include <string>

// Reads "ver.txt" in `folder` (ending with a separator) into VerDeviceType, VerFileFirmware,
// VerFileData and VerFileRadar. 1 when the file was opened, else 0 (the strings stay empty).
int ReadVersionFile(const std::wstring& folder);

// The folder the window starts with: the one given with --folder; else the program's own folder
// when it holds update files (a vendor's ready-made folder with the program inside); else the folder
// the user chose last, while it is there; else the program's own folder. Ends with a separator.
std::wstring StartFolder(const std::wstring& optionFolder, const std::wstring& programFolder,
                         const std::wstring& rememberedFolder);

// Empty when the windows have somewhere to appear; else a message for the user. On Linux that takes an
// X or Wayland display, or a platform chosen with QT_QPA_PLATFORM (such as "offscreen"), since Qt
// aborts the program when it finds none. Needs no QApplication.
std::wstring CheckDisplay();

// Empty when the skin folder exists, holds the main window's skin and every skin file in it is
// well-formed XML; else a message for the user naming the folder or file and the fault. A settings
// skin that is missing is no start-up error: only the settings window can't open.
std::wstring CheckSkins();
