// Paths as the program carries them: UTF-8 text. On Windows the narrow C and filesystem calls read a
// char path in the ANSI code page, so a folder named in Cyrillic would not be found; these open and
// convert through the wide name there instead. POSIX paths are bytes and pass through unchanged.
#pragma once

#include <cstdio>
#include <filesystem>
#include <string>

// fopen of a UTF-8 path (`mode` as for fopen). Null with errno set when it cannot be opened.
std::FILE* OpenFileUtf8(const std::string& path, const char* mode);

inline std::filesystem::path PathFromUtf8(const std::string& path) {
    return std::filesystem::path(std::u8string(path.begin(), path.end()));
}

// UTF-8 text of `path` with '/' between its parts on every platform.
inline std::string Utf8OfPath(const std::filesystem::path& path) {
    const std::u8string text = path.generic_u8string();
    return std::string(text.begin(), text.end());
}
