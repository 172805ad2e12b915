// The console control handler CInterruptWatch installs on Windows (InterruptWatch_win32.cpp), named
// so that tests can call it as Windows does, on a thread of their own: no program can send itself a
// closing console's event.
#pragma once

#include <windows.h>

// Ctrl-C and Ctrl-Break: handed to the watch, TRUE at once. A closing console, logoff or shutdown:
// handed to the watch as an interrupt, then TRUE once the watch is destroyed or about 4 s passed,
// whichever comes first (Windows ends the process when it returns). FALSE for any other event.
BOOL WINAPI OnConsoleControl(DWORD type);
