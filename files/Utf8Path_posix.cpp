#include "files/Utf8Path.h"

std::FILE* OpenFileUtf8(const std::string& path, const char* mode) { return std::fopen(path.c_str(), mode); }
