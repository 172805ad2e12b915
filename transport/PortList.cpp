#include "transport/PortList.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <system_error>

#include "transport/PortListScan.h"

namespace {

std::mutex g_listMutex;
std::vector<std::string> g_userList;

bool IsDigit(char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; }

// The list given by the user or the environment as device paths; empty when neither gives one.
std::vector<std::string> GivenPortList() {
    std::vector<std::string> given;
    {
        std::lock_guard<std::mutex> lock(g_listMutex);
        given = g_userList;
    }
    if (given.empty()) {
        const char* text = std::getenv("IAP_PORTS");
        if (text != nullptr) given = SplitPortListText(text);
    }
    for (std::string& entry : given) entry = UserPortPath(entry);
    return given;
}

bool EqualsIgnoringCase(const std::string& text, size_t at, const char* word) {
    for (size_t i = 0; word[i] != '\0'; ++i)
        if (at + i >= text.size() || std::toupper(static_cast<unsigned char>(text[at + i])) != word[i]) return false;
    return true;
}

}  // namespace

std::vector<std::string> SplitPortListText(const std::string& text) {
    std::vector<std::string> entries;
    size_t begin = 0;
    while (begin <= text.size()) {
        size_t end = text.find(':', begin);
        if (end == std::string::npos) end = text.size();
        if (end > begin) entries.push_back(text.substr(begin, end - begin));
        begin = end + 1;
    }
    return entries;
}

bool NaturalLess(const std::string& a, const std::string& b) {
    size_t i = 0;
    size_t j = 0;
    while (i < a.size() && j < b.size()) {
        if (IsDigit(a[i]) && IsDigit(b[j])) {
            size_t endA = i;
            size_t endB = j;
            while (endA < a.size() && IsDigit(a[endA])) ++endA;
            while (endB < b.size() && IsDigit(b[endB])) ++endB;
            // Compare the values without converting (a run may be longer than any integer type).
            size_t startA = i;
            size_t startB = j;
            while (startA + 1 < endA && a[startA] == '0') ++startA;
            while (startB + 1 < endB && b[startB] == '0') ++startB;
            const size_t lengthA = endA - startA;
            const size_t lengthB = endB - startB;
            if (lengthA != lengthB) return lengthA < lengthB;
            const int order = a.compare(startA, lengthA, b, startB, lengthB);
            if (order != 0) return order < 0;
            // Equal values: fewer leading zeros first, so the order stays strict.
            if (endA - i != endB - j) return endA - i < endB - j;
            i = endA;
            j = endB;
            continue;
        }
        if (a[i] != b[j]) return static_cast<unsigned char>(a[i]) < static_cast<unsigned char>(b[j]);
        ++i;
        ++j;
    }
    return a.size() - i < b.size() - j;
}

std::vector<std::string> ScanSerialDevices(const std::string& folder, const std::vector<std::string>& prefixes) {
    std::vector<std::string> names;
    std::error_code error;
    for (std::filesystem::directory_iterator it(folder, error), end; !error && it != end; it.increment(error))
        names.push_back(it->path().filename().string());

    std::vector<std::string> devices;
    for (const std::string& prefix : prefixes) {
        std::vector<std::string> group;
        for (const std::string& name : names)
            if (name.size() > prefix.size() && name.compare(0, prefix.size(), prefix) == 0) group.push_back(name);
        std::sort(group.begin(), group.end(), NaturalLess);
        for (const std::string& name : group) devices.push_back(folder + "/" + name);
    }
    return devices;
}

unsigned ComPortNumber(const std::string& name) {
    const size_t at = name.compare(0, 4, "\\\\.\\") == 0 ? 4 : 0;
    const size_t digits = at + 3;
    // Windows numbers its ports from 1 up to 255.
    if (!EqualsIgnoringCase(name, at, "COM") || name.size() <= digits || name.size() > digits + 3) return 0;
    unsigned number = 0;
    for (size_t i = digits; i < name.size(); ++i) {
        if (!IsDigit(name[i])) return 0;
        number = number * 10 + static_cast<unsigned>(name[i] - '0');
    }
    return number <= 255 ? number : 0;
}

std::string ComPortPath(const std::string& name) {
    const unsigned number = ComPortNumber(name);
    return number == 0 ? name : "\\\\.\\COM" + std::to_string(number);
}

std::vector<std::string> ComPortPaths(const std::vector<std::string>& names) {
    std::vector<std::string> paths;
    for (const std::string& name : names) paths.push_back(ComPortPath(name));
    std::sort(paths.begin(), paths.end(), NaturalLess);
    paths.erase(std::unique(paths.begin(), paths.end()), paths.end());
    return paths;
}

void SetPortList(const std::vector<std::string>& paths) {
    std::lock_guard<std::mutex> lock(g_listMutex);
    g_userList = paths;
}

std::vector<std::string> GetPortList() {
    std::vector<std::string> given = GivenPortList();
    return given.empty() ? SystemPortList() : given;
}

std::vector<std::pair<unsigned, std::string>> NumberedPortList() {
    const std::vector<std::string> given = GivenPortList();
    const std::vector<std::string>& list = given.empty() ? SystemPortList() : given;
    std::vector<std::pair<unsigned, std::string>> numbered;
    for (size_t i = 0; i < list.size(); ++i)
        numbered.emplace_back(given.empty() ? SystemPortNumber(list, i) : static_cast<unsigned>(i + 1), list[i]);
    return numbered;
}

std::vector<PortCandidate> SearchCandidates(unsigned portLimit) {
    const std::vector<std::string> given = GivenPortList();
    if (given.empty()) return SystemCandidates(portLimit);
    std::vector<PortCandidate> candidates;
    for (size_t i = 0; i < given.size() && i + 1 < portLimit && i < 255; ++i)
        candidates.push_back({static_cast<unsigned>(i + 1), given[i], false});
    return candidates;
}

bool SerialDevicePresent(const std::string& sysClassTty, const std::string& name) {
    std::FILE* file = std::fopen((sysClassTty + "/" + name + "/type").c_str(), "r");
    if (file == nullptr) return true;
    int type = -1;
    const bool read = std::fscanf(file, "%d", &type) == 1;
    std::fclose(file);
    return !read || type != 0;
}

std::string PortPath(unsigned port) {
    if (port == 0) return std::string();
    const std::vector<std::string> given = GivenPortList();
    if (given.empty()) return SystemPortPath(port);
    return port <= given.size() ? given[port - 1] : std::string();
}

unsigned PortByte(unsigned port) {
    // The scan of "\\.\COMn" sends n; a list that names the same port must send the same.
    const unsigned com = ComPortNumber(PortPath(port));
    return com != 0 ? com : port;
}
