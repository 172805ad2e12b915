// Cutting answer frames out of the byte stream: splits, several frames per chunk, junk, false headers.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "protocol/IspCodes.h"
#include "protocol/Packet_ISP.h"
#include "protocol/ReceivePath.h"

namespace {

std::vector<uint8_t> Frame(uint8_t cmd, std::vector<uint8_t> payload) {
    CPacket_ISP frame;
    frame.Pack(cmd, payload.data(), static_cast<uint16_t>(payload.size()));
    return std::vector<uint8_t>(frame.GetFrameData(), frame.GetFrameData() + frame.GetFrameSize());
}

void Add(CRawString& buffer, const std::vector<uint8_t>& bytes) {
    buffer.Append(bytes.data(), static_cast<int>(bytes.size()));
}

std::vector<uint8_t> Bytes(const CRawString& s) {
    return s.Size() ? std::vector<uint8_t>(s.Data(), s.Data() + s.Size()) : std::vector<uint8_t>{};
}

// Feeds chunks and returns every frame extracted, in order.
std::vector<std::vector<uint8_t>> Feed(CRawString& buffer, const std::vector<std::vector<uint8_t>>& chunks) {
    std::vector<std::vector<uint8_t>> frames;
    CRawString frame;
    for (const auto& chunk : chunks) {
        Add(buffer, chunk);
        while (ExtractFrame(buffer, FindAnswerFrame, frame, true)) frames.push_back(Bytes(frame));
    }
    return frames;
}

TEST(ReceivePathTest, FrameSplitOverChunksIsDeliveredOnceWithTheLastPiece) {
    const auto ack = Frame(ANS_ACK, {CMD_FIRMWARE_DATA, ACK_STATUS_ACCEPTED});
    CRawString buffer;
    EXPECT_TRUE(Feed(buffer, {{ack.begin(), ack.begin() + 2}, {ack.begin() + 2, ack.begin() + 5}}).empty());
    const auto frames = Feed(buffer, {{ack.begin() + 5, ack.end()}});
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0], ack);
    EXPECT_EQ(buffer.Size(), 0);
}

TEST(ReceivePathTest, SeveralFramesInOneChunkComeInOrder) {
    const auto a = Frame(ANS_FIRMWARE_START_SEEN, {});
    const auto b = Frame(ANS_FIRMWARE_READY, {});
    const auto c = Frame(ANS_EDOG_RESULT, {CMD_EDOG_PACKET, 1});
    std::vector<uint8_t> chunk = a;
    chunk.insert(chunk.end(), b.begin(), b.end());
    chunk.insert(chunk.end(), c.begin(), c.end());
    CRawString buffer;
    const auto frames = Feed(buffer, {chunk});
    ASSERT_EQ(frames.size(), 3u);
    EXPECT_EQ(frames[0], a);
    EXPECT_EQ(frames[1], b);
    EXPECT_EQ(frames[2], c);
}

TEST(ReceivePathTest, JunkBeforeAFrameIsDroppedWithItAndBytesAfterItStay) {
    const auto f = Frame(ANS_SETTINGS_WRITTEN, {CMD_WRITE_SETTINGS, 1});
    std::vector<uint8_t> chunk = {0x01, 0x02, 0x03};
    chunk.insert(chunk.end(), f.begin(), f.end());
    chunk.push_back(ISP_HEAD);
    chunk.push_back(0x07);  // the start of a frame that has not fully arrived
    CRawString buffer;
    const auto frames = Feed(buffer, {chunk});
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0], f);
    EXPECT_EQ(Bytes(buffer), (std::vector<uint8_t>{ISP_HEAD, 0x07}));
}

TEST(ReceivePathTest, BytesWithoutHeaderWaitAndGoWithTheNextFrame) {
    CRawString buffer;
    EXPECT_TRUE(Feed(buffer, {{0x11, 0x22, 0x33}}).empty());
    EXPECT_EQ(buffer.Size(), 3);
    const auto f = Frame(ANS_PIC_READY, {});
    EXPECT_EQ(Feed(buffer, {f}).size(), 1u);
    EXPECT_EQ(buffer.Size(), 0);
}

TEST(ReceivePathTest, RejectedCandidatesNeverHideALaterFrame) {
    const auto good = Frame(ANS_RADAR_READY, {});
    struct Case {
        const char* name;
        std::vector<uint8_t> bad;
    };
    const std::vector<Case> cases = {
        {"length below 5", {ISP_HEAD, 0x04, 0x00, 0x13}},
        {"command 0", {ISP_HEAD, 0x05, 0x00, 0x00, 0x00}},
        {"command above 0x51 with a matching checksum", {ISP_HEAD, 0x05, 0x00, 0x52, 0x52}},
        {"bad checksum", {ISP_HEAD, 0x05, 0x00, 0x22, 0x23}},
        {"false header inside data", {0x10, ISP_HEAD, 0x99, 0x20}},
        {"incomplete frame before a complete one", {ISP_HEAD, 0x30, 0x00, 0x46, 0x01}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<uint8_t> chunk = c.bad;
        chunk.insert(chunk.end(), good.begin(), good.end());
        CRawString buffer;
        const auto frames = Feed(buffer, {chunk});
        ASSERT_EQ(frames.size(), 1u);
        EXPECT_EQ(frames[0], good);
        EXPECT_EQ(buffer.Size(), 0);
    }
}

TEST(ReceivePathTest, OnlyTheLowLengthByteCounts) {
    // A frame longer than 255 bytes is read by its low length byte and so never recognised.
    std::vector<uint8_t> payload(300, 0x01);
    CRawString buffer;
    EXPECT_TRUE(Feed(buffer, {Frame(ANS_SETTINGS, payload)}).empty());
}

TEST(ReceivePathTest, FinderReportsBoundsAndMinusOneWithoutAFrame) {
    CRawString buffer;
    int start = 7, end = 7;
    EXPECT_FALSE(FindAnswerFrame(buffer, start, end));
    EXPECT_EQ(start, -1);
    EXPECT_EQ(end, -1);
    Add(buffer, {0x00, 0x00});
    Add(buffer, Frame(ANS_MUSIC_READY, {}));
    EXPECT_TRUE(FindAnswerFrame(buffer, start, end));
    EXPECT_EQ(start, 2);
    EXPECT_EQ(end, 7);
    CRawString frame;
    EXPECT_EQ(ExtractFrame(buffer, nullptr, frame, true), 0);
    // Without discarding, only the frame itself leaves the buffer.
    EXPECT_EQ(ExtractFrame(buffer, FindAnswerFrame, frame, false), 1);
    EXPECT_EQ(Bytes(buffer), (std::vector<uint8_t>{0x00, 0x00}));
}

TEST(ReceivePathTest, NoiseCannotGrowTheBufferWithoutLimit) {
    const auto ack = Frame(ANS_ACK, {CMD_FIRMWARE_DATA, ACK_STATUS_ACCEPTED});
    const std::vector<uint8_t> ackHead(ack.begin(), ack.begin() + 3);
    const std::vector<uint8_t> ackRest(ack.begin() + 3, ack.end());
    constexpr size_t kNoise = RECEIVE_BUFFER_LIMIT + 904;  // five chunks of 1000 bytes
    std::vector<uint8_t> noiseThenHead(kNoise - ackHead.size(), 0x55);
    noiseThenHead.insert(noiseThenHead.end(), ackHead.begin(), ackHead.end());
    struct Case {
        const char* name;
        std::vector<uint8_t> noise;  // sent in chunks of 1000 bytes
        int keptAfterNoise;
        std::vector<uint8_t> next;   // the chunk after the noise, which completes the ack
    };
    const std::vector<Case> cases = {
        {"noise without a header is dropped whole", std::vector<uint8_t>(kNoise, 0x55), 0, ack},
        {"a line of headers keeps less than one frame", std::vector<uint8_t>(kNoise, ISP_HEAD),
         MAX_ANSWER_FRAME - 1, ack},
        {"a frame begun at the end of the noise stays and completes", noiseThenHead,
         static_cast<int>(ackHead.size()), ackRest},
        {"up to the limit nothing is dropped", std::vector<uint8_t>(RECEIVE_BUFFER_LIMIT, 0x55),
         RECEIVE_BUFFER_LIMIT, ack},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CRawString buffer;
        int largest = 0;
        for (size_t at = 0; at < c.noise.size(); at += 1000) {
            const size_t n = std::min<size_t>(1000, c.noise.size() - at);
            EXPECT_EQ(ReceiveChunk(buffer, c.noise.data() + at, static_cast<int>(n), nullptr), 0);
            largest = std::max(largest, buffer.Size());
        }
        EXPECT_LE(largest, RECEIVE_BUFFER_LIMIT);
        EXPECT_EQ(buffer.Size(), c.keptAfterNoise);
        std::vector<std::vector<uint8_t>> delivered;
        EXPECT_EQ(ReceiveChunk(buffer, c.next.data(), static_cast<int>(c.next.size()),
                               [&](const CRawString& frame) { delivered.push_back(Bytes(frame)); }),
                  1);
        ASSERT_EQ(delivered.size(), 1u);
        EXPECT_EQ(delivered[0], ack);
        EXPECT_EQ(buffer.Size(), 0);
    }
}

}  // namespace
