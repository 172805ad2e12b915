#include "transport/UucpLock.h"

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>

int LiveUucpLockHolder(const std::string& lockFolder, const std::string& devicePath) {
    const size_t slash = devicePath.rfind('/');
    const std::string name = slash == std::string::npos ? devicePath : devicePath.substr(slash + 1);
    if (name.empty()) return 0;
    std::FILE* file = std::fopen((lockFolder + "/LCK.." + name).c_str(), "rb");
    if (file == nullptr) return 0;
    char bytes[16] = {};
    const size_t count = std::fread(bytes, 1, sizeof bytes - 1, file);
    std::fclose(file);

    long pid = 0;
    const bool text = std::all_of(bytes, bytes + count, [](char c) { return std::isdigit(static_cast<unsigned char>(c)) || std::isspace(static_cast<unsigned char>(c)); });
    if (count == sizeof(int) && !text) {
        // A binary lock: exactly one native int.
        int value = 0;
        std::memcpy(&value, bytes, sizeof value);
        pid = value;
    } else {
        if (std::sscanf(bytes, "%ld", &pid) != 1) return 0;
    }
    if (pid <= 0 || pid == static_cast<long>(getpid())) return 0;
    // EPERM: the process exists but belongs to someone else; it holds the port all the same.
    if (kill(static_cast<pid_t>(pid), 0) != 0 && errno != EPERM) return 0;
    return static_cast<int>(pid);
}
