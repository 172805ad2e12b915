#include "app/common/Console.h"

#include <windows.h>

#include <io.h>

bool IsTerminal(std::FILE* stream) { return _isatty(_fileno(stream)) != 0; }

void UseUtf8Console() {
    // Fails harmlessly when there is no console (a window program, output to a pipe): bytes then go
    // through unchanged.
    SetConsoleOutputCP(CP_UTF8);
}
