#include "app/common/Console.h"

#include <unistd.h>

bool IsTerminal(std::FILE* stream) { return isatty(fileno(stream)) != 0; }

void UseUtf8Console() {}
