// Command frames: the protocol's worked examples byte for byte.
#include <gtest/gtest.h>

#include <vector>

#include "protocol/IspCodes.h"
#include "protocol/Packet_ISP.h"
#include "support/TestSupport.h"

namespace {

std::vector<uint8_t> Bytes(const CPacket_ISP& frame) {
    return std::vector<uint8_t>(frame.GetFrameData(), frame.GetFrameData() + frame.GetFrameSize());
}

TEST(FrameTest, WorkedExamples) {
    CPacket_ISP frame;
    const uint8_t port = 3;
    frame.Pack(CMD_DEVICE_INFO, &port, 1);
    EXPECT_EQ(Bytes(frame), (std::vector<uint8_t>{0xAC, 0x06, 0x00, 0x45, 0x03, 0x48}));

    frame.Pack(CMD_FIRMWARE_END, nullptr, 0);
    EXPECT_EQ(Bytes(frame), (std::vector<uint8_t>{0xAC, 0x05, 0x00, 0x1A, 0x1A}));

    const uint8_t ack[] = {ANS_DEVICE_NOTICE, ACK_STATUS_ACCEPTED};
    frame.Pack(CMD_ACK, ack, 2);
    EXPECT_EQ(Bytes(frame), (std::vector<uint8_t>{0xAC, 0x07, 0x00, 0x0D, 0x1B, 0x02, 0x2A}));
}

TEST(FrameTest, LengthAndChecksumFields) {
    CPacket_ISP frame;
    std::vector<uint8_t> payload(1024, 0x01);
    frame.Pack(CMD_RADAR_PACKET, payload.data(), 1024);
    ASSERT_EQ(frame.GetFrameSize(), 1029);
    EXPECT_EQ(frame.GetFrameData()[1], 0x05);
    EXPECT_EQ(frame.GetFrameData()[2], 0x04);
    EXPECT_EQ(frame.GetLength(), 1029);
    EXPECT_EQ(frame.GetFrameData()[1028], static_cast<uint8_t>((0x43 + 1024) & 0xFF));

    // Command and payload summing to 0x1FF carry the checksum 0xFF.
    const uint8_t sum1ff[] = {0xFF, 0xFF};
    frame.Pack(0x01, sum1ff, 2);
    EXPECT_EQ(frame.GetFrameData()[frame.GetFrameSize() - 1], 0xFF);

    frame.Pack(0x47, nullptr, 0);
    EXPECT_EQ(frame.GetFrameSize(), 5);
    EXPECT_EQ(frame.GetFrameData()[4], 0x47);
    EXPECT_EQ(frame.GetCmd(), 0x47);
    EXPECT_TRUE(frame.IsHeadOk());
    EXPECT_EQ(*frame.GetBody(), 0x47);
}

TEST(FrameTest, AccessorsOfAnEmptyFrame) {
    CPacket_ISP frame;
    EXPECT_EQ(frame.GetCmd(), 0);
    EXPECT_EQ(frame.GetHead(), 0);
    EXPECT_FALSE(frame.IsHeadOk());
    EXPECT_EQ(frame.GetLength(), 0);
    EXPECT_EQ(frame.GetBody(), nullptr);
    EXPECT_EQ(frame.GetFrameSize(), 0);
}

TEST(FrameTest, CopiesCarryAttemptsAndBytes) {
    CPacket_ISP frame;
    frame.Pack(0x21, nullptr, 0);
    EXPECT_EQ(frame.AttemptLimit(), 1);
    EXPECT_EQ(frame.LongWaitMs(), 1000u);
    EXPECT_EQ(frame.ShortWaitMs(), 100);
    EXPECT_EQ(frame.TryCount(), 1);
    CPacket_ISP copy = frame;
    EXPECT_EQ(copy.AttemptsMade(), 1);
    EXPECT_EQ(copy.TryCount(), 0);
    EXPECT_EQ(Bytes(copy), Bytes(frame));
    // The byte-buffer side of a frame is the frame itself.
    EXPECT_EQ(copy.Size(), 5);
    EXPECT_EQ(copy.Data(), copy.GetFrameData());
    CTask raised(1, 10, 100);  // a long wait below the short wait is raised to it
    EXPECT_EQ(raised.LongWaitMs(), 100u);
}

TEST(CheckSumTest, SumModulo256) {
    const uint8_t bytes[] = {0x80, 0x80, 0x01};
    EXPECT_EQ(CheckSum(bytes, 3), 0x01);
    EXPECT_EQ(CheckSum(nullptr, 3), 0);
    EXPECT_EQ(CheckSum(bytes, -1), 0);
}

}  // namespace
