// The Windows port-name rules of the port list. They are plain string rules, so they run on every
// platform; where a platform treats a user-given entry its own way, the rows say so.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "transport/PortList.h"
#include "transport/PortListScan.h"

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

}  // namespace
