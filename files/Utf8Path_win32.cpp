#include "files/Utf8Path.h"

#include <cstdio>

#include "base/Text.h"
#include "base/Trace.h"

std::FILE* OpenFileUtf8(const std::string& path, const char* mode) {
    return _wfopen(Utf8ToWide(path).c_str(), Utf8ToWide(mode).c_str());
}
