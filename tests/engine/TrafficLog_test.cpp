// The traffic logs exist only in builds that switch them on; otherwise no file is ever created.
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <string>

#include "engine/TrafficLog.h"
#include "support/TestSupport.h"

namespace {

std::string Text(const std::string& path) {
    const std::vector<uint8_t> bytes = testsupport::ReadFile(path);
    return std::string(bytes.begin(), bytes.end());
}

TEST(TrafficLogTest, LogsFollowTheBuildSwitch) {
    testsupport::TempDir dir;
    const std::filesystem::path previous = std::filesystem::current_path();
    std::filesystem::current_path(dir.Path());
    const uint8_t frame[] = {0xAC, 0x06, 0x00, 0x46, 0x01, 0x47};
    TrafficLogSent(frame, 6);
    TrafficLogReceivedChunk(frame, 6);
    TrafficLogReceivedFrame(frame, 6);
    TrafficLogSent(nullptr, 6);
    std::filesystem::current_path(previous);

    if (!IAP_TRAFFIC_LOG) {
        EXPECT_TRUE(std::filesystem::is_empty(dir.Path())) << "no log file without the switch";
        return;
    }
    const std::regex line(R"(\d{4}-\d\d-\d\d-\d\d:\d\d:\d\d : ac 06 00 46 01 47\r\n)");
    EXPECT_TRUE(std::regex_match(Text(dir.File("send.txt")), line)) << Text(dir.File("send.txt"));
    EXPECT_TRUE(std::regex_match(Text(dir.File("recv.txt")), line));
    const std::regex packet(R"(\d{4}-\d\d-\d\d-\d\d:\d\d:\d\d :\r\n ac 06 00 46 01 47\r\n)");
    EXPECT_TRUE(std::regex_match(Text(dir.File("recv_packet.txt")), packet)) << Text(dir.File("recv_packet.txt"));
}

}  // namespace
