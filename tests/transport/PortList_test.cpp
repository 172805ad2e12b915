// The Windows port-name rules of the port list. They are plain string rules, so they run on every
// platform; where a platform treats a user-given entry its own way, the rows say so.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "transport/PortList.h"
#include "transport/PortListScan.h"
#include "support/TestSupport.h"
#if !defined(_WIN32)
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>

#include "transport/UucpLock.h"
#endif

namespace {

TEST(PortNameTest, ComNamesStandForTheDevicePath) {
    const std::pair<const char*, const char*> cases[] = {
        {"COM20", "\\\\.\\COM20"},
        {"com20", "\\\\.\\COM20"},
        {"Com3", "\\\\.\\COM3"},
        {"\\\\.\\COM20", "\\\\.\\COM20"},
        {"\\\\.\\com7", "\\\\.\\COM7"},
        {"COM007", "\\\\.\\COM7"},
        {"COM255", "\\\\.\\COM255"},
        // Not a COM port name: left for the system to judge.
        {"COM0", "COM0"},
        {"COM256", "COM256"},
        {"COM1000", "COM1000"},
        {"COM", "COM"},
        {"COM2a", "COM2a"},
        {"COMX", "COMX"},
        {"\\\\.\\CNCA0", "\\\\.\\CNCA0"},
        {"/dev/ttyUSB0", "/dev/ttyUSB0"},
        {"", ""},
    };
    for (const auto& [name, path] : cases) {
        EXPECT_EQ(ComPortPath(name), path) << name;
        // The number is the one the scan opens that path under ("\\.\COMn" is port n).
        const std::string text = path;
        const bool com = text.rfind("\\\\.\\COM", 0) == 0;
        EXPECT_EQ(ComPortNumber(name), com ? static_cast<unsigned>(std::stoul(text.substr(7))) : 0u) << name;
    }
}

TEST(PortNameTest, RegistryPortsInNumberOrderWithoutRepeats) {
    EXPECT_EQ(ComPortPaths({"COM10", "COM3", "com1", "COM3", "\\\\.\\COM2"}),
              (std::vector<std::string>{"\\\\.\\COM1", "\\\\.\\COM2", "\\\\.\\COM3", "\\\\.\\COM10"}));
    EXPECT_TRUE(ComPortPaths({}).empty());
}

TEST(PortNameTest, UserEntriesAreOpenedAsThePlatformNamesThem) {
    SetPortList({"com20", "/dev/ttyUSB0", "COM3"});
#if defined(_WIN32)
    const std::vector<std::string> expected = {"\\\\.\\COM20", "/dev/ttyUSB0", "\\\\.\\COM3"};
#else
    // On POSIX an entry is a device path, whatever it looks like.
    const std::vector<std::string> expected = {"com20", "/dev/ttyUSB0", "COM3"};
#endif
    EXPECT_EQ(GetPortList(), expected);
    EXPECT_EQ(PortPath(1), expected[0]);
    EXPECT_EQ(PortPath(3), expected[2]);
    EXPECT_EQ(PortPath(4), "");
    // A given list numbers its entries by their place, whatever their names say.
    EXPECT_EQ(NumberedPortList(), (std::vector<std::pair<unsigned, std::string>>{
                                      {1, expected[0]}, {2, expected[1]}, {3, expected[2]}}));
    SetPortList({});
}

// The probe and the device-information request tell the device its port's number: a COM port's own
// number, as the scan of "\\.\COMn" sends it, else the entry's place in the list.
TEST(PortNameTest, ThePortByteIsTheComNumberWhereThePortHasOne) {
    SetPortList({"com20", "/dev/ttyUSB0", "COM3", "\\\\.\\COM255", "COM256", "/dev/COM7"});
    const std::pair<unsigned, unsigned> rows[] = {{1, 20}, {2, 2}, {3, 3}, {4, 255}, {5, 5}, {6, 6}, {0, 0}};
    for (const auto& [port, byte] : rows) EXPECT_EQ(PortByte(port), byte) << "port " << port;
    SetPortList({});
}

// The kernel's serial core keeps a placeholder tty for every legacy port; its "type" 0 says that no
// UART is behind it. A tty without that file (a USB adapter, a pty) counts as present.
TEST(PortNameTest, PlaceholderSerialPortsAreNoCandidates) {
    testsupport::TempDir sys;
    const std::pair<const char*, const char*> types[] = {{"ttyS0", "4\n"}, {"ttyS1", "0\n"}, {"ttyS2", "junk"}};
    for (const auto& [name, type] : types) {
        std::filesystem::create_directories(sys.File(name));
        testsupport::WriteTextFile(sys.File(name) + "/type", type);
    }
    EXPECT_TRUE(SerialDevicePresent(sys.Path(), "ttyS0"));
    EXPECT_FALSE(SerialDevicePresent(sys.Path(), "ttyS1"));
    EXPECT_TRUE(SerialDevicePresent(sys.Path(), "ttyS2")) << "an unreadable type is no proof of absence";
    EXPECT_TRUE(SerialDevicePresent(sys.Path(), "ttyUSB0"));
}

TEST(PortNameTest, AGivenListIsSearchedInItsOrderWithinTheLimit) {
    SetPortList({"/dev/a", "/dev/b", "/dev/c"});
    const std::vector<PortCandidate> candidates = SearchCandidates(3);
    ASSERT_EQ(candidates.size(), 2u);
    EXPECT_EQ(candidates[0].path, "/dev/a");
    EXPECT_EQ(candidates[1].port, 2u);
    EXPECT_FALSE(candidates[1].last);
    SetPortList({});
}

#if !defined(_WIN32)
// A port claimed by a UUCP lock file is left alone while the process the lock names runs.
TEST(PortNameTest, ALiveUucpLockClaimsThePort) {
    testsupport::TempDir locks;
    const pid_t child = fork();
    if (child == 0) _exit(0);
    ASSERT_GT(child, 0);
    waitpid(child, nullptr, 0);  // a process id that has just gone: a stale lock
    const int parent = static_cast<int>(getppid());
    int binary = parent;
    std::string binaryText(sizeof binary, '\0');
    std::memcpy(binaryText.data(), &binary, sizeof binary);
    const struct {
        const char* name;
        std::string content;
        int holder;
    } rows[] = {
        {"ttyUSB0", std::to_string(parent), parent},                           // ten-digit ASCII form
        {"ttyUSB1", "      " + std::to_string(parent) + "\n", parent},
        {"ttyUSB2", binaryText, parent},                                         // the old binary form
        {"ttyUSB3", std::to_string(child) + "\n", 0},                          // stale
        {"ttyUSB4", std::to_string(getpid()) + "\n", 0},                       // our own
        {"ttyUSB5", "garbage\n", 0},
    };
    for (const auto& row : rows) {
        testsupport::WriteTextFile(locks.File(std::string("LCK..") + row.name), row.content);
        EXPECT_EQ(LiveUucpLockHolder(locks.Path(), std::string("/dev/") + row.name), row.holder) << row.name;
    }
    EXPECT_EQ(LiveUucpLockHolder(locks.Path(), "/dev/ttyUSB9"), 0) << "no lock file";
}
#endif

}  // namespace
