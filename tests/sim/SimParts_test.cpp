// The simulator's pieces in process: the fault plan's specs, the frame reader and the outbox.
// (Its command line is checked beside the process runs, in DevSim_test.cpp.)
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

#include "sim/DeviceModel.h"
#include "sim/FaultPlan.h"
#include "sim/Options.h"
#include "sim/FrameReader.h"
#include "sim/LineIo.h"
#include "sim/Outbox.h"
#include "sim/Recorder.h"
#include "SimTestFrames.h"
#include "support/TestSupport.h"

namespace {

using simtest::Bytes;
using simtest::Concat;
using simtest::Frame;
using simtest::Hex;
using std::chrono::microseconds;
using std::chrono::milliseconds;

// What arrives on the pty slave `path`: `count` bytes, or what came before the (time-scaled) bound.
Bytes ReadSlave(const std::string& path, size_t count) {
    Bytes got;
    const int fd = open(path.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) return got;
    const auto deadline = std::chrono::steady_clock::now() + milliseconds(testsupport::ScaledMs(5000));
    while (got.size() < count && std::chrono::steady_clock::now() < deadline) {
        pollfd pfd{fd, POLLIN, 0};
        if (poll(&pfd, 1, 50) <= 0) continue;
        uint8_t buffer[256];
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n > 0) got.insert(got.end(), buffer, buffer + n);
    }
    close(fd);
    return got;
}

TEST(SimPartsTest, FaultSpecsAndNumbers) {
    struct Row {
        const char* text;
        bool ok;
        uint8_t cmd;
        unsigned ordinal;
    };
    const Row rows[] = {
        {"0x23@2", true, 0x23, 2},     {"35@1", true, 35, 1},          {"0XfF@1000000000", true, 0xFF, 1000000000},
        {"0x00@1", true, 0x00, 1},     {"0x23", false, 0, 0},          {"@1", false, 0, 0},
        {"0x23@", false, 0, 0},        {"0x23@0", false, 0, 0},        {"0x100@1", false, 0, 0},
        {"0x23@1000000001", false, 0, 0}, {"-1@1", false, 0, 0},       {"0x@1", false, 0, 0},
        {"0x23@2x", false, 0, 0},      {"0x23@99999999999999999999999", false, 0, 0},
    };
    for (const Row& row : rows) {
        uint8_t cmd = 0;
        unsigned ordinal = 0;
        std::string error;
        EXPECT_EQ(ParseFaultSpec(row.text, cmd, ordinal, error) == 1, row.ok) << row.text;
        if (row.ok) {
            EXPECT_EQ(cmd, row.cmd) << row.text;
            EXPECT_EQ(ordinal, row.ordinal) << row.text;
        } else {
            EXPECT_NE(error.find(row.text), std::string::npos) << row.text << ": " << error;
        }
    }
}

// The device model's answers under the faults a run meets: what goes back for each frame in turn.
TEST(SimPartsTest, DeviceFaultsShapeTheAnswers) {
    const Bytes info = {0x45, 0x03, 0x00, 0x0C, 0x01, 0x00, 0x1A, 0x2B};
    const Bytes accepted23 = Frame(0x24, {0x23, 0x01});
    const SimSettingsBlock settings = DefaultSettingsBlock();
    const Bytes block(settings.begin(), settings.end());
    struct Row {
        std::vector<std::string> args;
        std::vector<std::pair<Bytes, Bytes>> script;  // frame in, every answer frame out (concatenated)
    };
    Bytes otherEcho = info;
    otherEcho[0] = 0x00;
    const Row rows[] = {
        // Frame 3 is the third frame of any code.
        {{"--stray-answer", "0x4B@3", "--stray-answer", "0x32@3", "--stray-answer", "0x24@1"},
         {{Frame(0x21), Concat({accepted23, Frame(0x22)})},
          {Frame(0x23, {1}), accepted23},
          {Frame(0x23, {2}), Concat({Frame(0x4B, {0x4A, 0x01}), Frame(0x32), accepted23})},
          {Frame(0x20), {}}}},
        // An end command has no answer of its own; a stray before it still goes.
        {{"--stray-answer", "0x0D@1"}, {{Frame(0x20), Frame(0x0D, {0x06, 0x02})}}},
        {{"--dup-then-refuse", "0x23@2"},
         {{Frame(0x23, {1}), accepted23},
          {Frame(0x23, {2}), Concat({accepted23, accepted23})},
          {Frame(0x23, {3}), Frame(0x24, {0x23, 0x00})},
          {Frame(0x23, {4}), accepted23}}},
        {{"--dup-then-refuse", "0x06@1"},
         {{Frame(0x06, {0, 0, 0, 8, 1, 0xAA}), Concat({Frame(0x0D, {0x06, 0x02}), Frame(0x0D, {0x06, 0x02})})},
          {Frame(0x06, {1, 0, 0, 8, 1, 0xBB}), Frame(0x0D, {0x06, 0x03})}}},
        {{"--short-settings", "10"}, {{Frame(0x47), Frame(0x48, Concat({{0x47}, Bytes(block.begin(), block.begin() + 10)}))}}},
        {{"--short-settings", "75"}, {{Frame(0x47), Frame(0x48, Concat({{0x47}, block, {0x00, 0x00}}))}}},
        {{"--info-echo", "0"}, {{Frame(0x45, {0x03}), Frame(0x46, otherEcho)}}},
        {{}, {{Frame(0x45, {0x03}), Frame(0x46, info)}, {Frame(0x47), Frame(0x48, Concat({{0x47}, block}))}}},
    };
    for (const Row& row : rows) {
        SimOptions options;
        std::string error;
        ASSERT_TRUE(ParseOptions(row.args, options, error)) << error;
        CDeviceModel model(DeviceConfig{}, options.faults);
        for (size_t i = 0; i < row.script.size(); ++i) {
            const DeviceReaction reaction = model.Handle(row.script[i].first);
            Bytes got;
            for (const auto& answer : reaction.answers) got.insert(got.end(), answer.begin(), answer.end());
            EXPECT_EQ(Hex(got), Hex(row.script[i].second)) << row.args[0] << ", frame " << i + 1;
        }
    }
    // The refused packet is not kept: the device's image lacks it.
    SimOptions options;
    std::string error;
    ASSERT_TRUE(ParseOptions({"--dup-then-refuse", "0x23@1"}, options, error));
    CDeviceModel model(DeviceConfig{}, options.faults);
    for (uint8_t b : {1, 2, 3}) model.Handle(Frame(0x23, {b}));
    EXPECT_EQ(model.ImageBytes(SimImage::EDog), (Bytes{1, 3}));
}

// Byte streams in, frames and refusals out; every row is fed whole and one byte at a time.
TEST(SimPartsTest, FrameReaderCutsFramesAndRefusesTheRest) {
    const Bytes probe = Frame(0x45, {0x03});
    const Bytes packet = Frame(0x23, Bytes(59, 0x11));  // 64 bytes: the longest the reader below takes
    Bytes badSum = Frame(0x47);
    badSum.back() ^= 0x01;
    struct Row {
        Bytes stream;
        std::vector<Bytes> frames;
        unsigned long badLength, badChecksum, skipped;
        const char* what;
    };
    const Row rows[] = {
        {Concat({probe, packet}), {probe, packet}, 0, 0, 0, "back to back"},
        {Concat({{0x00, 0x13, 0x37}, probe}), {probe}, 0, 0, 3, "noise before"},
        {Concat({badSum, probe}), {probe}, 0, 1, 4, "bad checksum"},
        {Concat({{0xAC, 0x04, 0x00}, probe}), {probe}, 1, 0, 2, "length below a frame"},
        {Concat({{0xAC, 0x41, 0x00, 0x23}, probe}), {probe}, 1, 0, 3, "length above the limit"},
        // A false start byte whose length swallows the real frame's start: refused by its checksum.
        {Concat({{0xAC, 0x07, 0x00}, probe}), {probe}, 0, 1, 2, "false start byte"},
    };
    for (const Row& row : rows) {
        for (const bool byteWise : {false, true}) {
            std::vector<RejectReason> refused;
            CFrameReader reader(64, milliseconds(1000), [&](RejectReason reason, const Bytes&) { refused.push_back(reason); });
            std::vector<Bytes> got;
            const auto t0 = SimClock::now();
            const size_t step = byteWise ? 1 : row.stream.size();
            for (size_t at = 0; at < row.stream.size(); at += step) {
                reader.Feed(row.stream.data() + at, std::min(step, row.stream.size() - at), t0 + microseconds(at));
                ReceivedFrame frame;
                while (reader.Next(frame)) got.push_back(frame.bytes);
            }
            const std::string what = std::string(row.what) + (byteWise ? " (byte-wise)" : "");
            ASSERT_EQ(got.size(), row.frames.size()) << what;
            for (size_t i = 0; i < got.size(); ++i) EXPECT_EQ(Hex(got[i]), Hex(row.frames[i])) << what;
            EXPECT_EQ(reader.BadLength(), row.badLength) << what;
            EXPECT_EQ(reader.BadChecksum(), row.badChecksum) << what;
            EXPECT_EQ(reader.SkippedBytes(), row.skipped) << what;
            EXPECT_EQ(refused.size(), row.badLength + row.badChecksum) << what;
            EXPECT_EQ(reader.StaleDeadline(), SimClock::time_point::max()) << what << ": nothing left over";
        }
    }
}

TEST(SimPartsTest, TornFrameGoesStaleAndFrameTimesAreItsFirstByte) {
    CFrameReader reader(64, milliseconds(1000), {});
    const auto t0 = SimClock::now();
    const Bytes torn = {0xAC, 0x20, 0x00, 0x23, 0x01};
    reader.Feed(torn.data(), torn.size(), t0);
    ReceivedFrame frame;
    EXPECT_FALSE(reader.Next(frame));
    EXPECT_EQ(reader.StaleDeadline(), t0 + milliseconds(1000));
    reader.DropStale(t0 + milliseconds(999));
    EXPECT_EQ(reader.Incomplete(), 0u);
    reader.DropStale(t0 + milliseconds(1000));
    EXPECT_EQ(reader.Incomplete(), 1u);
    // The rest of the torn bytes hold no start byte: gone on the next look.
    const Bytes probe = Frame(0x45, {0x03});
    reader.Feed(probe.data(), 2, t0 + milliseconds(1001));
    reader.Feed(probe.data() + 2, probe.size() - 2, t0 + milliseconds(1005));
    ASSERT_TRUE(reader.Next(frame));
    EXPECT_EQ(Hex(frame.bytes), Hex(probe));
    EXPECT_EQ(frame.firstByteAt, t0 + milliseconds(1001));
    EXPECT_EQ(reader.SkippedBytes(), 4u);
}

// The outbox on a real pseudo-terminal, read back from its slave end.
TEST(SimPartsTest, OutboxPacesSplitsAndPrefixesAnswers) {
    EXPECT_EQ(LineTime(0, 1000), microseconds(0));
    EXPECT_EQ(LineTime(10000, 1), microseconds(1000));
    EXPECT_EQ(LineTime(256000, 7), microseconds(274));  // 273.4, rounded up: never beat the line
    EXPECT_EQ(LineTime(115200, 4101), microseconds(355990));

    const Bytes answer = Frame(0x22);
    struct Row {
        unsigned baud;
        bool split, junk;
        Bytes wire;
        size_t writes;
        microseconds lastDue;
        const char* what;
    };
    const Row rows[] = {
        {0, false, false, answer, 1, microseconds(0), "plain"},
        {0, false, true, Concat({COutbox::JunkBytes(), answer}), 1, microseconds(0), "junk"},
        {10000, false, false, answer, 1, microseconds(5000), "paced"},
        {0, true, false, answer, 5, microseconds(4000), "split, 1 ms apart"},
        {10000, true, true, Concat({COutbox::JunkBytes(), answer}), 10, microseconds(1000 + 9 * 1000), "split and paced"},
    };
    for (const Row& row : rows) {
        CLineIo line;
        std::string error;
        ASSERT_TRUE(line.OpenPty("", error)) << error;
        CRecorder recorder;
        COutbox outbox(row.baud, row.split);
        EXPECT_EQ(outbox.Paced(), row.baud != 0) << row.what;
        const auto t0 = SimClock::now();
        EXPECT_EQ(outbox.Queue(answer, t0, row.junk) - t0, row.lastDue) << row.what;
        bool lineFull = false;
        size_t writes = 0;
        while (!outbox.Empty()) {
            ASSERT_TRUE(outbox.Flush(line, outbox.NextDue(), recorder, lineFull)) << row.what;
            ++writes;
        }
        EXPECT_EQ(writes, row.writes) << row.what;
        EXPECT_EQ(recorder.FramesSent(), 1u) << row.what << ": one answer, however many pieces";
        EXPECT_EQ(Hex(ReadSlave(line.Path(), row.wire.size())), Hex(row.wire)) << row.what;
    }
}

// Answers queue behind each other on a paced line, and nothing goes before its time.
TEST(SimPartsTest, OutboxHoldsAnswersUntilDue) {
    CLineIo line;
    std::string error;
    ASSERT_TRUE(line.OpenPty("", error)) << error;
    CRecorder recorder;
    COutbox outbox(10000, false);
    const auto t0 = SimClock::now();
    const Bytes answer = Frame(0x22);
    EXPECT_EQ(outbox.Queue(answer, t0, false), t0 + microseconds(5000));
    EXPECT_EQ(outbox.Queue(answer, t0, false), t0 + microseconds(10000)) << "the second waits for the first";
    EXPECT_EQ(outbox.Queue(answer, t0 + microseconds(20000), false), t0 + microseconds(25000)) << "a later one waits for its own time";
    bool lineFull = false;
    ASSERT_TRUE(outbox.Flush(line, t0 + microseconds(4999), recorder, lineFull));
    EXPECT_EQ(recorder.FramesSent(), 0u);
    ASSERT_TRUE(outbox.Flush(line, t0 + microseconds(10000), recorder, lineFull));
    EXPECT_EQ(recorder.FramesSent(), 2u);
    EXPECT_EQ(outbox.NextDue(), t0 + microseconds(25000));
    ASSERT_TRUE(outbox.Flush(line, t0 + microseconds(25000), recorder, lineFull));
    EXPECT_TRUE(outbox.Empty());
    EXPECT_EQ(outbox.NextDue(), SimClock::time_point::max());
    EXPECT_FALSE(lineFull);
    EXPECT_EQ(Hex(ReadSlave(line.Path(), 3 * answer.size())), Hex(Concat({answer, answer, answer})));
}

}  // namespace
