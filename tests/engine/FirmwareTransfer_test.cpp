// Which firmware records reach the device, and where: the usual file layout and files that differ.
#include <gtest/gtest.h>

#include "protocol/IspCodes.h"
#include "protocol/Packet_ISP.h"
#include "support/HexText.h"
#include "support/UpdateRunFixture.h"

using namespace testsupport;

namespace {

// The frames of the long-standing rule for the usual layout: every record but the first and the last
// two, the upper address counting up by one at each further type-04 record.
std::vector<std::vector<uint8_t>> FramesByCountingSegments(const std::vector<HexRecord>& records) {
    std::vector<std::vector<uint8_t>> frames;
    uint32_t upper = (records[0].data[0] << 8) | records[0].data[1];
    for (size_t i = 1; i + 2 < records.size(); ++i) {
        const HexRecord& r = records[i];
        if (r.type == 0x04) {
            ++upper;
            continue;
        }
        const uint32_t address = upper * 65536u + r.offset;
        std::vector<uint8_t> payload = {static_cast<uint8_t>(address), static_cast<uint8_t>(address >> 8),
                                        static_cast<uint8_t>(address >> 16), static_cast<uint8_t>(address >> 24),
                                        static_cast<uint8_t>(r.data.size())};
        payload.insert(payload.end(), r.data.begin(), r.data.end());
        CPacket_ISP frame;
        frame.Pack(CMD_FIRMWARE_DATA, payload.data(), static_cast<uint16_t>(payload.size()));
        frames.emplace_back(frame.GetFrameData(), frame.GetFrameData() + frame.GetFrameSize());
    }
    return frames;
}

std::vector<std::vector<uint8_t>> FirmwareFramesReceived(const std::vector<LoggedFrame>& frames) {
    std::vector<std::vector<uint8_t>> out;
    for (const LoggedFrame& f : frames)
        if (f.fromTool && f.Cmd() == CMD_FIRMWARE_DATA) out.push_back(f.bytes);
    return out;
}

Memory ReceivedMemory(const std::string& outDir) {
    const std::vector<uint8_t> baseBytes = ReadFile(outDir + "/firmware.base");
    const uint32_t base = static_cast<uint32_t>(std::stoul(std::string(baseBytes.begin(), baseBytes.end()), nullptr, 16));
    return MemoryFromImage(base, ReadFile(outDir + "/firmware.bin"));
}

class FirmwareTransferTest : public UpdateRunTest {
protected:
    std::vector<LoggedFrame> Transfer(const std::vector<HexRecord>& records) {
        WriteTextFile(FilesDir() + "AC7811_project.hex", HexFile(records, "0105\r\n"));
        Connect();
        EXPECT_TRUE(RunUpdate());
        for (const EngineMessage& m : MessagesOf(WM_ENGINE_STEP_END)) EXPECT_EQ(m.lParam, 0);
        return StopDevice();
    }
};

const HexRecord kStart = {0x05, 0, {0x08, 0x00, 0xF0, 0x01}};
const HexRecord kEnd = {0x01, 0, {}};

TEST_F(FirmwareTransferTest, TheUsualLayoutGivesTheSameFramesAsCountingSegments) {
    std::vector<HexRecord> records = HexRecordsFor(0x0800F800, PseudoRandomBytes(0x1000, 11));
    records.push_back(kStart);
    records.push_back(kEnd);
    const auto frames = Transfer(records);
    EXPECT_EQ(FirmwareFramesReceived(frames), FramesByCountingSegments(records));
    // The version goes first, high byte first: 0105.
    for (const LoggedFrame& f : frames)
        if (f.fromTool && f.Cmd() == CMD_FIRMWARE_START) {
            EXPECT_EQ(f.bytes, (std::vector<uint8_t>{0xAC, 0x07, 0x00, 0x1C, 0x01, 0x05, 0x22}));
        }
}

TEST_F(FirmwareTransferTest, AFileWithoutStartAddressRecordKeepsItsLastDataRecord) {
    std::vector<HexRecord> records = HexRecordsFor(0x08000000, PseudoRandomBytes(0x400, 12));
    records.push_back(kEnd);
    Transfer(records);
    std::string why;
    EXPECT_TRUE(SameMemory(MemoryOf(records), ReceivedMemory(OutDir()), &why)) << why;
}

TEST_F(FirmwareTransferTest, ASegmentGapSendsDataToTheAddressTheFileNames) {
    std::vector<HexRecord> records = HexRecordsFor(0x0800FF00, PseudoRandomBytes(0x100, 13));
    const auto far = HexRecordsFor(0x08030000, PseudoRandomBytes(0x100, 14));  // skips two segments
    records.insert(records.end(), far.begin(), far.end());
    records.push_back(kStart);
    records.push_back(kEnd);
    Transfer(records);
    std::string why;
    EXPECT_TRUE(SameMemory(MemoryOf(records), ReceivedMemory(OutDir()), &why)) << why;
}

TEST_F(FirmwareTransferTest, RecordsOtherThanDataAreNeverSent) {
    std::vector<HexRecord> records = HexRecordsFor(0x08000000, PseudoRandomBytes(0x200, 15));
    // Segment address records (types 02, 03) refuse the whole file when it is read; start addresses
    // may stand anywhere.
    records.insert(records.begin() + 5, HexRecord{0x05, 0, {0x08, 0x00, 0x12, 0x34}});
    records.insert(records.begin() + 9, HexRecord{0x05, 0, {0x08, 0x00, 0x00, 0x01}});
    records.insert(records.begin() + 12, kStart);
    records.push_back(kEnd);
    const auto frames = Transfer(records);
    int dataRecords = 0;
    for (const HexRecord& r : records) dataRecords += r.type == 0x00;
    EXPECT_EQ(static_cast<int>(FirmwareFramesReceived(frames).size()), dataRecords);
    std::string why;
    EXPECT_TRUE(SameMemory(MemoryOf(records), ReceivedMemory(OutDir()), &why)) << why;
}

TEST_F(FirmwareTransferTest, ThreeRecordsSendOnlyTheEndCommand) {
    const auto frames = Transfer({{0x04, 0, {0x08, 0x00}}, kStart, kEnd});
    EXPECT_TRUE(FirmwareFramesReceived(frames).empty());
    int ends = 0;
    for (const LoggedFrame& f : frames) ends += f.fromTool && f.Cmd() == CMD_FIRMWARE_END;
    EXPECT_EQ(ends, 1);
}

}  // namespace
