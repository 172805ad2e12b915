// "ver.txt": the device type and the versions of the update files beside the program, one per line.
#pragma once

#include <array>
#include <string>

// The four lines as read: each keeps its line terminator as the text-mode reader delivers it ("\n");
// a line longer than 2047 characters is split, its remainder counting as the next line; lines after
// the fourth are ignored; missing lines stay empty. The text is decoded as UTF-8, a leading byte-order
// mark dropped. Control characters (a CR before the terminator, ESC, tabs, ...) are removed, the rest
// of each line kept, so that both the window and the command line show the lines as they are.
struct VersionLines {
    std::array<std::wstring, 4> lines;  // device type, firmware, data, radar versions
};

constexpr size_t VERSION_LINE_BUFFER = 2048;  // wide characters, terminator included

// 1 when the file was opened (lines filled as far as it goes), else 0 and all lines empty.
int ReadVersionLines(const std::string& path, VersionLines& out);
