// One HEX line to one binary record: field layout, the checksum rule and bounds of the parser.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/FilesTestSupport.h"
#include "files/Packet_Hex.h"

namespace {

std::vector<uint8_t> RecordBytes(const CPacket_Hex& record) {
    const CRawString& raw = record.Record();
    if (raw.Empty()) return {};
    return std::vector<uint8_t>(raw.Data(), raw.Data() + raw.Size());
}

TEST(PacketHexTest, DataRecordExample) {
    CPacket_Hex record;
    ASSERT_EQ(record.ParseLine(":0300300002337A1E"), 1);
    EXPECT_EQ(record.GetDataLength(), 3);
    EXPECT_EQ(record.GetAddress(), 0x0030);
    EXPECT_EQ(record.GetType(), 0);
    ASSERT_NE(record.GetData(), nullptr);
    EXPECT_EQ(std::vector<uint8_t>(record.GetData(), record.GetData() + 3), (std::vector<uint8_t>{0x02, 0x33, 0x7A}));
    EXPECT_EQ(record.GetChecksum(), 0x1E);
    EXPECT_EQ(RecordBytes(record), (std::vector<uint8_t>{0x3A, 0x03, 0x30, 0x00, 0x00, 0x02, 0x33, 0x7A, 0x1E}));
}

TEST(PacketHexTest, EveryChangedDigitIsRefusedAndKeepsThePreviousRecord) {
    const std::string good = ":0300300002337A1E";
    const char digits[] = "0123456789ABCDEF";
    int tried = 0;
    for (size_t pos = 1; pos < good.size(); ++pos) {
        for (const char* digit = digits; *digit != '\0'; ++digit) {
            if (*digit == good[pos]) continue;
            // A changed length digit makes the parser look further; give it a guaranteed tail.
            std::string line = good;
            line[pos] = *digit;
            line.append(600, '0');
            CPacket_Hex record;
            ASSERT_EQ(record.ParseLine(":00000001FF"), 1);
            EXPECT_EQ(record.ParseLine(line.c_str()), 0) << "digit " << pos << " changed to " << *digit;
            EXPECT_EQ(RecordBytes(record), (std::vector<uint8_t>{0x3A, 0x00, 0x00, 0x00, 0x01, 0xFF}));
            ++tried;
        }
    }
    EXPECT_EQ(tried, 16 * 15);
}

TEST(PacketHexTest, FieldExamples) {
    struct Row {
        const char* line;
        std::vector<uint8_t> record;
    };
    const Row rows[] = {
        {":00000001FF", {0x3A, 0x00, 0x00, 0x00, 0x01, 0xFF}},
        // The offset is written most significant digit first and stored low byte first.
        {":00123400BA", {0x3A, 0x00, 0x34, 0x12, 0x00, 0xBA}},
        {":020000040800F2", {0x3A, 0x02, 0x00, 0x00, 0x04, 0x08, 0x00, 0xF2}},
        {":0400000508000101ED", {0x3A, 0x04, 0x00, 0x00, 0x05, 0x08, 0x00, 0x01, 0x01, 0xED}},
    };
    for (const Row& row : rows) {
        CPacket_Hex record;
        ASSERT_EQ(record.ParseLine(row.line), 1) << row.line;
        EXPECT_EQ(RecordBytes(record), row.record) << row.line;
        EXPECT_EQ(record.GetDataLength(), row.record[1]);
        EXPECT_EQ(record.GetAddress(), row.record[2] | (row.record[3] << 8));
        EXPECT_EQ(record.GetType(), row.record[4]);
        EXPECT_EQ(record.GetChecksum(), row.record.back());
    }
    CPacket_Hex record;
    ASSERT_EQ(record.ParseLine(":00123400BA"), 1);
    EXPECT_EQ(record.GetAddress(), 0x1234);
}

TEST(PacketHexTest, LowerCaseDigitsAreNotDigits) {
    const char* lines[] = {":0300300002337a1e", ":020000040800f2", ":00123400ba", ":0400000508000101ed"};
    for (const char* line : lines) {
        CPacket_Hex record;
        EXPECT_EQ(record.ParseLine(line), 0) << line;
        EXPECT_TRUE(record.Record().Empty());
    }
}

TEST(PacketHexTest, DigitValues) {
    const std::pair<char, int> rows[] = {{'0', 0},     {'5', 5},     {'9', 9},    {'A', 10},  {'C', 12},
                                         {'F', 15},    {'a', 0x61},  {'f', 0x66}, {'G', 0x47}, {':', 0x3A},
                                         {'\0', 0},    {'\r', 0x0D}, {static_cast<char>(0xFF), 0xFF}};
    for (const auto& [ch, value] : rows) EXPECT_EQ(CPacket_Hex::HexDigitValue(ch), value) << int(ch);
}

TEST(PacketHexTest, EmptyRecordGivesZeroes) {
    const CPacket_Hex record;
    EXPECT_EQ(record.GetAddress(), 0);
    EXPECT_EQ(record.GetDataLength(), 0);
    EXPECT_EQ(record.GetType(), 0);
    EXPECT_EQ(record.GetData(), nullptr);
    EXPECT_EQ(record.GetChecksum(), 0);
    EXPECT_TRUE(record.Record().Empty());
}

TEST(PacketHexTest, CopiesAreDeep) {
    CPacket_Hex original;
    ASSERT_EQ(original.ParseLine(":0300300002337A1E"), 1);
    CPacket_Hex copy(original);
    CPacket_Hex assigned;
    assigned = original;
    ASSERT_EQ(original.ParseLine(":00000001FF"), 1);
    EXPECT_EQ(copy.GetChecksum(), 0x1E);
    EXPECT_EQ(assigned.GetChecksum(), 0x1E);
    EXPECT_NE(copy.Record().Data(), original.Record().Data());
    EXPECT_EQ(original.GetType(), 1);
}

TEST(PacketHexTest, BoundedParseReadsOnlyWhatItIsGiven) {
    CPacket_Hex record;
    EXPECT_EQ(record.ParseLine(nullptr), 0);
    EXPECT_EQ(record.ParseLine(nullptr, 100), 0);
    const std::string line = ":0300300002337A1E";
    ASSERT_EQ(CPacket_Hex::TextLength(3), line.size());
    // The buffer ends exactly where the record ends, so a read further would be caught by ASan.
    std::vector<char> exact(line.begin(), line.end());
    for (size_t available = 0; available < exact.size(); ++available)
        EXPECT_EQ(record.ParseLine(exact.data(), available), 0) << available;
    EXPECT_EQ(record.ParseLine(exact.data(), exact.size()), 1);
    // A length of FF announces more than the line holds.
    std::vector<char> longer = {':', 'F', 'F', '0', '0', '0', '0', '0', '0', '0', '0'};
    EXPECT_EQ(record.ParseLine(longer.data(), longer.size()), 0);
    EXPECT_EQ(record.GetChecksum(), 0x1E);
}

TEST(PacketHexTest, LongestRecordFitsTheParser) {
    // The parser has room for any length a record can announce; the reader's line buffer decides
    // what a file may hold.
    for (size_t count : {23u, 32u, 40u, 41u, 255u}) {
        const std::vector<uint8_t> data = filestest::RandomBytes(static_cast<uint32_t>(count), count);
        const std::string line = filestest::HexLine(0, 0xABCD, data);
        CPacket_Hex record;
        ASSERT_EQ(record.ParseLine(line.c_str(), line.size()), 1) << count;
        EXPECT_EQ(record.GetDataLength(), count);
        EXPECT_EQ(record.Record().Size(), static_cast<int>(count) + 6);
        EXPECT_EQ(std::vector<uint8_t>(record.GetData(), record.GetData() + count), data);
    }
}

}  // namespace
