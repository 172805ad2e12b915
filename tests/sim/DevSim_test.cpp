// The device simulator run as a child process and driven through the pty it prints, with plain
// POSIX I/O: what a tool on the other end of the line would see. Its command line (options, seeds,
// help) is checked in process, with one process run each for what only the program does.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "sim/DeviceModel.h"
#include "sim/FaultSeed.h"
#include "sim/Options.h"
#include "sim/SettingsBlocks.h"
#include "SimTestFrames.h"
#include "support/DevSimProcess.h"
#include "support/SimLog.h"
#include "support/TestSupport.h"

namespace {

using simtest::Bytes;
using simtest::Concat;
using simtest::Frame;
using simtest::Hex;
using testsupport::DevSimProcess;
using testsupport::ReadFile;
using testsupport::ScaledMs;
using testsupport::TempDir;
using testsupport::WaitUntil;

// How long an answer may take to come: only a hung simulator misses it.
const int kAnswerMs = ScaledMs(5000);

Bytes Pattern(size_t count, unsigned seed) {
    Bytes bytes(count);
    for (size_t i = 0; i < count; ++i) bytes[i] = static_cast<uint8_t>((i * 37 + seed * 101 + (i >> 8)) & 0xFF);
    return bytes;
}

Bytes Le32(uint32_t v) {
    return {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v >> 16),
            static_cast<uint8_t>(v >> 24)};
}

Bytes FirmwarePacket(uint32_t address, const Bytes& data) {
    Bytes payload = Le32(address);
    payload.push_back(static_cast<uint8_t>(data.size()));
    payload.insert(payload.end(), data.begin(), data.end());
    return Frame(0x06, payload);
}

std::string ReadText(const std::string& path) {
    const Bytes bytes = ReadFile(path);
    return std::string(bytes.begin(), bytes.end());
}

// The tool's end of the line: the pty slave, raw.
class Port {
public:
    explicit Port(const std::string& path) {
        fd_ = open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (fd_ < 0) return;
        termios tio{};
        tcgetattr(fd_, &tio);
        cfmakeraw(&tio);
        tcsetattr(fd_, TCSANOW, &tio);
    }
    ~Port() {
        if (fd_ >= 0) close(fd_);
    }
    Port(const Port&) = delete;
    Port& operator=(const Port&) = delete;
    bool IsOpen() const { return fd_ >= 0; }

    void Write(const Bytes& bytes) {
        size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = write(fd_, bytes.data() + done, bytes.size() - done);
            ASSERT_GT(n, 0) << "write to the simulator failed";
            done += static_cast<size_t>(n);
        }
    }

    // Writes `bytes` unless the line stays full for stuckMs; false then (part may have gone).
    bool TryWrite(const Bytes& bytes, int stuckMs) {
        size_t done = 0;
        while (done < bytes.size()) {
            pollfd pfd{fd_, POLLOUT, 0};
            if (poll(&pfd, 1, stuckMs) <= 0) return false;
            const int flags = fcntl(fd_, F_GETFL);
            fcntl(fd_, F_SETFL, flags | O_NONBLOCK);
            const ssize_t n = write(fd_, bytes.data() + done, bytes.size() - done);
            fcntl(fd_, F_SETFL, flags);
            if (n > 0) done += static_cast<size_t>(n);
            else if (n < 0 && errno != EAGAIN) return false;
        }
        return true;
    }

    // Reads until `count` bytes came or timeoutMs passed.
    Bytes Read(size_t count, int timeoutMs) {
        Bytes out;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (out.size() < count) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                                  deadline - std::chrono::steady_clock::now()).count();
            if (left <= 0) break;
            pollfd pfd{fd_, POLLIN, 0};
            if (poll(&pfd, 1, static_cast<int>(left)) <= 0) continue;
            uint8_t buffer[4096];
            const ssize_t n = read(fd_, buffer, std::min(sizeof buffer, count - out.size()));
            if (n > 0) out.insert(out.end(), buffer, buffer + n);
        }
        return out;
    }

    // True when the other end went away within timeoutMs: the pty is hung up, and a read ends at
    // once without bytes (end of file, or EIO) instead of waiting.
    bool HungUp(int timeoutMs) {
        pollfd pfd{fd_, POLLIN, 0};
        if (poll(&pfd, 1, timeoutMs) <= 0 || !(pfd.revents & POLLHUP)) return false;
        uint8_t byte = 0;
        return read(fd_, &byte, 1) <= 0;
    }

    // Whatever is already buffered, without waiting.
    Bytes ReadPending() {
        Bytes out;
        for (;;) {
            pollfd pfd{fd_, POLLIN, 0};
            if (poll(&pfd, 1, 0) <= 0) break;
            uint8_t buffer[4096];
            const ssize_t n = read(fd_, buffer, sizeof buffer);
            if (n <= 0) break;
            out.insert(out.end(), buffer, buffer + n);
        }
        return out;
    }

    // Sends a frame and expects exactly `answer` back (nothing before it, nothing instead of it).
    void Exchange(const Bytes& frame, const Bytes& answer, const std::string& what) {
        Write(frame);
        const Bytes got = Read(answer.size(), kAnswerMs);
        EXPECT_EQ(Hex(got), Hex(answer)) << what;
    }

private:
    int fd_ = -1;
};

const Bytes kDefaultDeviceInfo = {0xAC, 0x0D, 0x00, 0x46, 0x45, 0x03, 0x00, 0x0C,
                                  0x01, 0x00, 0x1A, 0x2B, 0xE0};

Bytes DeviceInfoAnswer(uint8_t port, uint16_t fw, uint16_t data, uint16_t radar, uint8_t echo = 0x45) {
    return Frame(0x46, {echo, port, static_cast<uint8_t>(fw >> 8), static_cast<uint8_t>(fw),
                        static_cast<uint8_t>(data >> 8), static_cast<uint8_t>(data),
                        static_cast<uint8_t>(radar >> 8), static_cast<uint8_t>(radar)});
}

// Since the simulator handles frames in order, the answer to this probe arriving first proves
// that nothing was sent for the frames before it.
void Barrier(Port& port, const std::string& what, const Bytes& answerPrefix = {}, uint8_t echo = 0x45) {
    port.Exchange(Frame(0x45, {0x07}), Concat({answerPrefix, DeviceInfoAnswer(7, 12, 256, 0x1a2b, echo)}),
                  "barrier after " + what);
}

TEST(DevSimTest, ProbeAnswersWithConfiguredVersionsByteForByte) {
    struct Row {
        std::vector<std::string> args;
        uint8_t port;
        Bytes expected;
    };
    const Row rows[] = {
        {{}, 3, kDefaultDeviceInfo},
        {{"--fw-version", "0x0105", "--data-version", "300", "--radar-version=7"}, 1,
         DeviceInfoAnswer(1, 0x0105, 300, 7)},
        {{"--fw-version", "65535", "--data-version", "0", "--radar-version", "0xffff"}, 49,
         DeviceInfoAnswer(49, 0xFFFF, 0, 0xFFFF)},
    };
    for (const Row& row : rows) {
        DevSimProcess sim(row.args);
        ASSERT_TRUE(sim.Started()) << sim.Describe();
        const std::string path = sim.PtyPath();
        Port port(path);
        ASSERT_TRUE(port.IsOpen()) << path;
        // The tool probes, then asks again once it has switched the line.
        port.Exchange(Frame(0x45, {row.port}), row.expected, "probe");
        port.Exchange(Frame(0x45, {row.port}), row.expected, "device information request");
        EXPECT_EQ(sim.Stop(), 0);
    }
}

TEST(DevSimTest, SurvivesTheToolClosingAndReopeningThePort) {
    DevSimProcess sim({});
    ASSERT_TRUE(sim.Started()) << sim.Describe();
    const std::string path = sim.PtyPath();
    for (uint8_t round = 1; round <= 3; ++round) {
        Port port(path);
        ASSERT_TRUE(port.IsOpen());
        port.Exchange(Frame(0x45, {round}), DeviceInfoAnswer(round, 12, 256, 0x1a2b), "reopen");
    }
    EXPECT_EQ(sim.Stop(), 0);
}

TEST(DevSimTest, SettingsReadsGive79ByteAnswersFromDefaultsOrFiles) {
    // Built-in blocks: well-formed, and the two differ so restoring either is visible.
    {
        DevSimProcess sim({});
        ASSERT_TRUE(sim.Started()) << sim.Describe();
        Port port(sim.PtyPath());
        ASSERT_TRUE(port.IsOpen());
        Bytes blocks[2];
        const uint8_t requests[2] = {0x47, 0x49};
        for (int i = 0; i < 2; ++i) {
            port.Write(Frame(requests[i]));
            const Bytes answer = port.Read(79, kAnswerMs);
            ASSERT_EQ(answer.size(), 79u);
            EXPECT_EQ(answer[0], 0xAC);
            EXPECT_EQ(answer[1], 79);
            EXPECT_EQ(answer[2], 0);
            EXPECT_EQ(answer[3], 0x48);
            EXPECT_EQ(answer[4], requests[i]);
            blocks[i].assign(answer.begin() + 5, answer.end() - 1);
            EXPECT_EQ(Hex(answer), Hex(Frame(0x48, Concat({{requests[i]}, blocks[i]}))));
        }
        EXPECT_NE(blocks[0], blocks[1]);
        EXPECT_EQ(sim.Stop(), 0);
    }
    // Blocks from files, returned byte for byte.
    {
        TempDir dir;
        const Bytes settings = Pattern(73, 1);
        const Bytes info = Pattern(73, 2);
        testsupport::WriteFile(dir.File("s.bin"), settings);
        testsupport::WriteFile(dir.File("i.bin"), info);
        DevSimProcess sim({"--settings", dir.File("s.bin"), "--settings-info=" + dir.File("i.bin")});
        ASSERT_TRUE(sim.Started()) << sim.Describe();
        Port port(sim.PtyPath());
        ASSERT_TRUE(port.IsOpen());
        port.Exchange(Frame(0x47), Frame(0x48, Concat({{0x47}, settings})), "'G' from file");
        port.Exchange(Frame(0x49), Frame(0x48, Concat({{0x49}, info})), "'I' from file");
        EXPECT_EQ(sim.Stop(), 0);
    }
}

// A whole update run as the tool sends it, with each answer checked byte for byte, then the
// --out files checked against what was sent.
TEST(DevSimTest, UpdateRunIsAnsweredAndRecorded) {
    TempDir dir;
    const std::string out = dir.File("out");
    DevSimProcess sim({"--out", out});
    ASSERT_TRUE(sim.Started()) << sim.Describe();
    Port port(sim.PtyPath());
    ASSERT_TRUE(port.IsOpen());

    const Bytes fwA = Pattern(16, 3), fwB = Pattern(16, 4), fwC = Pattern(16, 5), fwD = Pattern(8, 6);
    const Bytes stale = Pattern(100, 7), edog1 = Pattern(4096, 8), edog2 = Pattern(1000, 9);
    const Bytes music = Pattern(3000, 10), pic = Pattern(2000, 11);
    const Bytes radar1 = Pattern(1024, 12), radar2 = Pattern(128, 13);
    const Bytes newSettings = Pattern(73, 14);
    const Bytes ack06 = {0xAC, 0x07, 0x00, 0x0D, 0x06, 0x02, 0x15};

    struct Step {
        Bytes send;
        Bytes expect;  // empty: the device must stay silent
        const char* what;
    };
    const Step firmware[] = {
        {Frame(0x1C, {0x01, 0x05}), Concat({Frame(0x1C), Frame(0x19)}), "firmware start"},
        // Across the 64 KiB boundary, with a gap, and the lowest address last.
        {FirmwarePacket(0x0800FFF0, fwB), ack06, "firmware packet B"},
        {FirmwarePacket(0x08010000, fwC), ack06, "firmware packet C"},
        {FirmwarePacket(0x08010020, fwD), ack06, "firmware packet D"},
        {FirmwarePacket(0x0800FFD0, fwA), ack06, "firmware packet A"},
        {Frame(0x1A), Frame(0x0D, {0x1A, 0x02}), "firmware end"},
    };
    for (const Step& step : firmware) port.Exchange(step.send, step.expect, step.what);
    ASSERT_TRUE(WaitUntil([&] { return std::filesystem::exists(out + "/firmware.base"); }, kAnswerMs));
    EXPECT_EQ(ReadText(out + "/firmware.base"), "0x0800FFD0\n");

    const Step images[] = {
        {Frame(0x21), Frame(0x22), "data start"},
        {Frame(0x23, stale), Frame(0x24, {0x23, 0x01}), "data packet of an abandoned transfer"},
        {Frame(0x21), Frame(0x22), "data start again"},
        {Frame(0x23, edog1), Frame(0x24, {0x23, 0x01}), "data packet 1"},
        {Frame(0x23, edog2), Frame(0x24, {0x23, 0x01}), "data packet 2"},
        {Frame(0x20), {}, "data end"},
        {Frame(0x31), Frame(0x32), "audio start"},
        {Frame(0x33, music), Frame(0x34, {0x33, 0x01}), "audio packet"},
        {Frame(0x30), {}, "audio end"},
        {Frame(0x36), Frame(0x37), "picture start"},
        {Frame(0x38, pic), Frame(0x39, {0x38, 0x01}), "picture packet"},
        {Frame(0x3A), {}, "picture end"},
        {Frame(0x41, {0x70, 0x11, 0x01, 0x00}), Frame(0x42), "radar start"},
        {Frame(0x43, radar1), Frame(0x44, {0x43, 0x01}), "radar packet 1"},
        {Frame(0x43, radar2), Frame(0x44, {0x43, 0x01}), "radar packet 2"},
        {Frame(0x40), {}, "radar end"},
        {Frame(0x4A, newSettings), Frame(0x4B, {0x4A, 0x01}), "settings write"},
        {Frame(0x47), Frame(0x48, Concat({{0x47}, newSettings})), "settings read back"},
        {Frame(0x0D, {0x1B, 0x02}), {}, "the tool's acknowledgement of a notice"},
    };
    for (const Step& step : images) {
        port.Exchange(step.send, step.expect, step.what);
        if (step.send[3] == 0x20) {
            // The image file is written when the image ends, not only at exit.
            Barrier(port, step.what);
            EXPECT_EQ(ReadFile(out + "/flagdata.bin"), Concat({edog1, edog2}));
        }
    }
    Barrier(port, "the last step");
    EXPECT_EQ(sim.Stop(), 0);

    const Bytes memory = Concat({fwA, Bytes(16, 0xFF), fwB, fwC, Bytes(16, 0xFF), fwD});
    EXPECT_EQ(ReadFile(out + "/firmware.bin"), memory);
    EXPECT_EQ(ReadText(out + "/firmware.base"), "0x0800FFD0\n");
    EXPECT_EQ(ReadText(out + "/firmware_version.txt"), "0105\n");
    EXPECT_EQ(ReadFile(out + "/flagdata.bin"), Concat({edog1, edog2}));
    EXPECT_EQ(ReadFile(out + "/audioHead.bin"), music);
    EXPECT_EQ(ReadFile(out + "/picHead.bin"), pic);
    EXPECT_EQ(ReadFile(out + "/rdfwd.bin"), Concat({radar1, radar2}));
    EXPECT_EQ(ReadText(out + "/radar_size.txt"), "70000\n");
    EXPECT_EQ(ReadFile(out + "/settings.bin"), newSettings);

    const std::string summary = ReadText(out + "/summary.txt");
    for (const char* line : {"rx 0x23 3\n", "rx 0x06 4\n", "rx 0x45 2\n", "tx 0x24 3\n", "tx 0x46 2\n",
                             "bad_checksum 0\n", "bad_length 0\n", "ended firmware.bin 1\n", "ended flagdata.bin 1\n",
                             "ended audioHead.bin 1\n", "ended picHead.bin 1\n", "ended rdfwd.bin 1\n",
                             // After its ready answer: the packet (3005 bytes) and the end (5) in, one answer out.
                             "line audioHead.bin 3010 7 ", "turnaround_us "})
        EXPECT_NE(summary.find(line), std::string::npos) << line << " missing in\n" << summary;

    std::istringstream log(ReadText(out + "/frames.log"));
    std::string line, first;
    int received = 0, sent = 0;
    while (std::getline(log, line)) {
        if (first.empty()) first = line;
        if (line.rfind("> ", 0) == 0) ++received;
        if (line.rfind("< ", 0) == 0) ++sent;
    }
    EXPECT_EQ(first, "> ac 07 00 1c 01 05 22");
    EXPECT_EQ(received, 6 + 19 + 2);
    EXPECT_EQ(sent, 7 + 14 + 2);
}

TEST(DevSimTest, BadFramesAreCountedAndIgnored) {
    TempDir dir;
    DevSimProcess sim({"--out", dir.Path()});
    ASSERT_TRUE(sim.Started()) << sim.Describe();
    Port port(sim.PtyPath());
    ASSERT_TRUE(port.IsOpen());
    Bytes badChecksum = Frame(0x47);
    badChecksum.back() ^= 0x01;
    const Bytes tooShort = {0xAC, 0x03, 0x00, 0x45, 0x45};
    const Bytes tooLong = {0xAC, 0xFF, 0xFF, 0x23};  // longer than any packet the device takes
    // Noise, then the three bad frames, then a good one: only the good one is answered.
    port.Exchange(Concat({{0x00, 0x13, 0x37}, badChecksum, tooShort, tooLong, Frame(0x45, {0x03})}),
                  kDefaultDeviceInfo, "good frame after bad ones");
    Barrier(port, "bad frames");
    EXPECT_EQ(sim.Stop(), 0);
    const std::string summary = ReadText(dir.File("summary.txt"));
    EXPECT_NE(summary.find("bad_checksum 1\n"), std::string::npos) << summary;
    EXPECT_NE(summary.find("bad_length 2\n"), std::string::npos) << summary;
    EXPECT_NE(summary.find("frames_received 2\n"), std::string::npos) << summary;
    EXPECT_NE(ReadText(dir.File("frames.log")).find("(bad checksum)"), std::string::npos);
}

TEST(DevSimTest, TornFrameIsDroppedSoTheNextFrameIsStillAnswered) {
    DevSimProcess sim({});
    ASSERT_TRUE(sim.Started()) << sim.Describe();
    Port port(sim.PtyPath());
    ASSERT_TRUE(port.IsOpen());
    // A header that claims 64 bytes but never gets them would otherwise swallow the probe.
    port.Exchange(Concat({{0xAC, 0x40, 0x00, 0x45}, Frame(0x45, {0x03})}), kDefaultDeviceInfo,
                  "probe behind a torn frame");
    EXPECT_EQ(sim.Stop(), 0);
}

TEST(DevSimTest, LineNoiseNeverStopsTheDevice) {
    for (uint32_t seed : {1u, 2u}) {
        DevSimProcess sim({});
        ASSERT_TRUE(sim.Started()) << sim.Describe();
        Port port(sim.PtyPath());
        ASSERT_TRUE(port.IsOpen());
        // Noise rich in start bytes and small length bytes, so it holds false, torn, corrupt and
        // now and then valid frames; the device may answer those, then must answer the probe.
        Bytes noise(64 * 1024);
        uint32_t state = seed * 2654435761u;
        for (uint8_t& b : noise) {
            state ^= state << 13;
            state ^= state >> 17;
            state ^= state << 5;
            const uint8_t pick[4] = {0xAC, static_cast<uint8_t>(state >> 8), 0x00, 0x05};
            b = pick[state & 3];
        }
        Bytes got;
        for (size_t pos = 0; pos < noise.size(); pos += 1024) {
            port.Write(Bytes(noise.begin() + static_cast<std::ptrdiff_t>(pos),
                             noise.begin() + static_cast<std::ptrdiff_t>(pos + 1024)));
            const Bytes pending = port.ReadPending();
            got.insert(got.end(), pending.begin(), pending.end());
        }
        const Bytes want = DeviceInfoAnswer(7, 12, 256, 0x1a2b);
        // The noise may end in a torn frame that takes the probe in as its rest; as a host does, ask
        // again until the device has found its feet.
        bool answered = false;
        for (int attempt = 0; attempt < 5 && !answered; ++attempt) {
            port.Write(Frame(0x45, {0x07}));
            answered = WaitUntil([&] {
                const Bytes more = port.ReadPending();
                got.insert(got.end(), more.begin(), more.end());
                return got.size() >= want.size() && std::equal(want.begin(), want.end(), got.end() - static_cast<std::ptrdiff_t>(want.size()));
            }, ScaledMs(2000));
        }
        EXPECT_TRUE(answered) << "seed " << seed;
        EXPECT_EQ(sim.Stop(), 0) << "seed " << seed;
    }
}

TEST(DevSimTest, SilentDeviceAnswersNothing) {
    TempDir dir;
    DevSimProcess sim({"--silent", "--out", dir.Path()});
    ASSERT_TRUE(sim.Started()) << sim.Describe();
    const std::string path = sim.PtyPath();
    Port port(path);
    ASSERT_TRUE(port.IsOpen());
    port.Write(Concat({Frame(0x45, {0x03}), Frame(0x47), Frame(0x1C, {0x01, 0x05})}));
    // Once the last frame is logged as received, the simulator has handled all three; an answer
    // would follow at once. (Closing the pty discards unread bytes, so check before stopping.)
    ASSERT_TRUE(WaitUntil([&] {
        return ReadText(dir.File("frames.log")).find("> ac 07 00 1c") != std::string::npos;
    }, kAnswerMs));
    EXPECT_EQ(Hex(port.Read(1, 300)), "");
    EXPECT_EQ(sim.Stop(), 0);
    EXPECT_EQ(ReadText(dir.File("frames.log")).find("< "), std::string::npos);
    EXPECT_NE(ReadText(dir.File("summary.txt")).find("frames_sent 0\n"), std::string::npos);
}

TEST(DevSimTest, DeviceModeServesAGivenSerialDevice) {
    // A pty slave stands in for a serial adapter; the test holds the master end.
    testsupport::PtyPair pair;
    DevSimProcess sim({"--device", pair.SlavePath()});
    EXPECT_EQ(sim.PtyPath(), pair.SlavePath()) << sim.Describe();
    pair.WriteMaster(Frame(0x45, {0x05}));
    EXPECT_EQ(Hex(pair.ReadMaster(13, kAnswerMs)), Hex(DeviceInfoAnswer(5, 12, 256, 0x1a2b)));
    pair.WriteMaster(Frame(0x1A));
    EXPECT_EQ(Hex(pair.ReadMaster(7, kAnswerMs)), Hex(Frame(0x0D, {0x1A, 0x02})));
    EXPECT_EQ(sim.Stop(), 0);
}

TEST(DevSimTest, FaultOptionsDoWhatTheySay) {
    const Bytes junk = {0x55, 0xAC, 0x03, 0x00, 0x13};
    Bytes corruptInfo = kDefaultDeviceInfo;
    corruptInfo.back() = static_cast<uint8_t>(corruptInfo.back() + 1);
    const Bytes accepted23 = Frame(0x24, {0x23, 0x01});
    const SimSettingsBlock kSettings = DefaultSettingsBlock();
    struct Row {
        std::vector<std::string> args;
        std::vector<std::pair<Bytes, Bytes>> script;  // frame sent, bytes expected back
    };
    const Row rows[] = {
        {{"--no-answer", "0x23@2"},
         {{Frame(0x23, {1}), accepted23}, {Frame(0x23, {2}), {}}, {Frame(0x23, {3}), accepted23}}},
        {{"--reject", "0x06@1", "--reject", "0x23@1", "--reject", "0x21@1"},
         {{FirmwarePacket(0x08000000, {1, 2}), Frame(0x0D, {0x06, 0x03})},
          {FirmwarePacket(0x08000000, {1, 2}), Frame(0x0D, {0x06, 0x02})},
          {Frame(0x23, {1}), Frame(0x24, {0x23, 0x00})},
          {Frame(0x21), Frame(0x0D, {0x21, 0x03})}}},
        {{"--corrupt", "0x45@1"},
         {{Frame(0x45, {0x03}), corruptInfo}, {Frame(0x45, {0x03}), kDefaultDeviceInfo}}},
        {{"--duplicate", "0x23@1"},
         {{Frame(0x23, {1}), Concat({accepted23, accepted23})}, {Frame(0x23, {1}), accepted23}}},
        {{"--notice-after", "0x1A@1", "--notice-after", "0x20@1"},
         {{Frame(0x1A), Concat({Frame(0x0D, {0x1A, 0x02}), Frame(0x1B)})}, {Frame(0x20), Frame(0x1B)}}},
        // Not before 'E' answers: the tool's probe would never find the device.
        {{"--junk"}, {{Frame(0x45, {0x03}), kDefaultDeviceInfo},
                      {Frame(0x21), Concat({junk, Frame(0x22)})}}},
        {{"--split"}, {{Frame(0x45, {0x03}), kDefaultDeviceInfo}, {Frame(0x21), Frame(0x22)}}},
        // Frame 2 is the second frame of any code.
        {{"--stray-answer", "0x4B@2", "--dup-then-refuse", "0x23@1"},
         {{Frame(0x21), Frame(0x22)},
          {Frame(0x23, {1}), Concat({Frame(0x4B, {0x4A, 0x01}), accepted23, accepted23})},
          {Frame(0x23, {2}), Frame(0x24, {0x23, 0x00})}}},
        {{"--short-settings", "10", "--info-echo", "0x47"},
         {{Frame(0x47), Frame(0x48, Concat({{0x47}, Bytes(kSettings.begin(), kSettings.begin() + 10)}))}}},
        // Only before 'E' answers: a stray byte at open that the tool's probe must look past.
        {{"--probe-junk"}, {{Frame(0x45, {0x03}), Concat({junk, kDefaultDeviceInfo})},
                            {Frame(0x21), Frame(0x22)}}},
    };
    for (const Row& row : rows) {
        DevSimProcess sim(row.args);
        ASSERT_TRUE(sim.Started()) << sim.Describe();
        Port port(sim.PtyPath());
        ASSERT_TRUE(port.IsOpen());
        for (const auto& [send, expect] : row.script) port.Exchange(send, expect, row.args[0]);
        // The barrier's own answer shows the echo fault.
        Barrier(port, row.args[0], row.args[0] == "--probe-junk" ? junk : Bytes{}, row.args[0] == "--short-settings" ? 0x47 : 0x45);
        EXPECT_EQ(sim.Stop(), 0) << row.args[0];
    }
}

TEST(DevSimTest, HangUpClosesTheLineAfterTheNamedFrameAndKeepsTheRecording) {
    TempDir dir;
    DevSimProcess sim({"--hangup", "0x23@2", "--out", dir.Path()});
    ASSERT_TRUE(sim.Started()) << sim.Describe();
    Port port(sim.PtyPath());
    ASSERT_TRUE(port.IsOpen());
    port.Exchange(Frame(0x21), Frame(0x22), "start");
    port.Exchange(Frame(0x23, {1, 2, 3}), Frame(0x24, {0x23, 0x01}), "first packet");
    port.Write(Frame(0x23, {4, 5}));
    EXPECT_EQ(sim.WaitExit(), 0);
    // The tool's end sees the hang-up: a read fails instead of waiting for an answer.
    EXPECT_TRUE(port.HungUp(kAnswerMs));
    EXPECT_EQ(ReadFile(dir.File("flagdata.bin")), (Bytes{1, 2, 3, 4, 5}));
    EXPECT_NE(ReadText(dir.File("summary.txt")).find("ended flagdata.bin 0\n"), std::string::npos)
        << "an image without its end is not complete";
    const std::string log = ReadText(dir.File("frames.log"));
    EXPECT_NE(log.find("> ac 07 00 23 04 05"), std::string::npos) << log;
    EXPECT_NE(log.find("# fault: hang up after 0x23@2"), std::string::npos) << log;
    EXPECT_EQ(log.find("< ac 07 00 24 23 01", log.find("> ac 07 00 23 04 05")), std::string::npos)
        << "no answer to the last frame";
}

// After the named frame the device answers it and the next eight frames of its kind, then reads
// nothing: what the tool writes stays on the line until its buffer is full, and nothing of it is
// recorded as received.
TEST(DevSimTest, StopReadingLeavesTheToolsBytesOnTheLine) {
    TempDir dir;
    DevSimProcess sim({"--stop-reading-after", "0x23@2", "--out", dir.Path()});
    ASSERT_TRUE(sim.Started()) << sim.Describe();
    Port port(sim.PtyPath());
    ASSERT_TRUE(port.IsOpen());
    const Bytes accepted23 = Frame(0x24, {0x23, 0x01});
    port.Exchange(Frame(0x21), Frame(0x22), "start");
    port.Exchange(Frame(0x23, {1}), accepted23, "first packet");
    port.Write(Frame(0x23, {2}));
    Bytes ahead;
    for (unsigned i = 0; i <= kAnswersAheadOnStop; ++i) ahead.insert(ahead.end(), accepted23.begin(), accepted23.end());
    EXPECT_EQ(port.Read(ahead.size(), kAnswerMs), ahead);
    EXPECT_TRUE(port.ReadPending().empty());
    // Packets keep going out until the line takes no more: the buffer fills, as it would in front of
    // a device that stopped reading.
    const Bytes packet = Frame(0x23, Pattern(4096, 3));
    size_t frames = 0;
    bool full = false;
    for (; frames < 64 && !full; ++frames) full = !port.TryWrite(packet, ScaledMs(500));
    EXPECT_TRUE(full) << "64 packets went onto a line nobody reads";
    EXPECT_EQ(sim.Stop(), 0);
    const std::string log = ReadText(dir.File("frames.log"));
    EXPECT_NE(log.find("# fault: stop reading after 0x23@2"), std::string::npos) << log;
    EXPECT_EQ(testsupport::CountCommand(testsupport::CommandsReceived(testsupport::ReadFrameLog(dir.Path())), 0x23), 2)
        << log;
}

// After answering the firmware end the device restarts as a re-enumerating USB device: the port goes
// away (the tool's end is hung up and the link is gone), then a new port answers under the same link.
TEST(DevSimTest, RestartReopenTakesThePortAwayAndBringsItBackUnderTheLink) {
    TempDir dir;
    const std::string link = dir.File("ttyRESTART");
    DevSimProcess sim({"--link", link, "--restart-reopen", "0.1,0.2", "--out", dir.Path()});
    ASSERT_TRUE(sim.Started()) << sim.Describe();
    {
        Port port(link);
        ASSERT_TRUE(port.IsOpen());
        port.Exchange(Frame(0x1A), Frame(0x0D, {0x1A, 0x02}), "firmware end");
        EXPECT_TRUE(port.HungUp(ScaledMs(5000)));
    }
    ASSERT_TRUE(sim.WaitForErr("restarted: the port is back")) << sim.Describe();
    Port again(link);
    ASSERT_TRUE(again.IsOpen());
    again.Exchange(Frame(0x45, {0x03}), kDefaultDeviceInfo, "device information after the restart");
    EXPECT_EQ(sim.Stop(), 0);
    const std::string log = ReadText(dir.File("frames.log"));
    EXPECT_LT(log.find("# restart: the port goes away"), log.find("# restart: the port is back")) << log;
}

std::string SummaryLine(const std::string& summary, const std::string& key) {
    const size_t at = summary.find(key + " ");
    if (at == std::string::npos) return "(no " + key + " line)";
    const size_t from = at + key.size() + 1;
    return summary.substr(from, summary.find('\n', from) - from);
}

// What a seed can set, as text to compare.
std::string Applied(const SimOptions& o) {
    std::ostringstream text;
    for (const FaultRule& r : o.faults.Rules()) text << static_cast<int>(r.kind) << ":" << int{r.cmd} << "@" << r.ordinal << " ";
    text << "delay " << o.delayMs << " probe " << o.probeDelayMs << " split " << o.split << " junk " << o.junk
         << " probe-junk " << o.probeJunk << " short-settings " << o.faults.shortSettingsBytes << " info-echo "
         << o.faults.infoEcho;
    return text.str();
}

// --seed N stands for ordinary fault options: the same N always gives the same ones, they parse like
// typed ones, and across seeds every kind of fault turns up. One seed is replayed as a process: it
// prints the options and records them in the summary, and typed by hand they start a simulator of
// their own (a failing seed can be replayed).
TEST(DevSimTest, SeedsStandForReproducibleFaultOptions) {
    std::set<std::string> distinct;
    std::string all;
    uint32_t replaySeed = 0;
    constexpr uint32_t kSeeds = 40;
    for (uint32_t seed = 1; seed <= kSeeds; ++seed) {
        const std::vector<std::string> drawn = SeedFaultArgs(seed);
        const std::string faults = JoinArgs(drawn);
        EXPECT_EQ(JoinArgs(SeedFaultArgs(seed)), faults) << "seed " << seed;
        distinct.insert(faults);
        all += faults + " ";
        if (replaySeed == 0 && !drawn.empty()) replaySeed = seed;

        SimOptions bySeed, byHand;
        std::string error;
        ASSERT_TRUE(ParseOptions({"--seed", std::to_string(seed)}, bySeed, error)) << "seed " << seed << ": " << error;
        EXPECT_EQ(bySeed.seedArgs, drawn) << "seed " << seed;
        ASSERT_TRUE(ParseOptions(drawn, byHand, error)) << "seed " << seed << " (" << faults << "): " << error;
        EXPECT_FALSE(byHand.hasSeed);
        EXPECT_EQ(Applied(bySeed), Applied(byHand)) << "seed " << seed << " applies other options than " << faults;
        // What the seed draws comes after what was typed, so a delay it draws replaces the typed one.
        const std::vector<std::string> typed = {"--delay-ms", "999", "--probe-delay-ms", "999", "--split"};
        std::vector<std::string> typedThenDrawn = typed;
        typedThenDrawn.insert(typedThenDrawn.end(), drawn.begin(), drawn.end());
        std::vector<std::string> typedAndSeed = typed;
        typedAndSeed.insert(typedAndSeed.end(), {"--seed", std::to_string(seed)});
        SimOptions overTyped, byHandOverTyped;
        ASSERT_TRUE(ParseOptions(typedAndSeed, overTyped, error)) << "seed " << seed << ": " << error;
        ASSERT_TRUE(ParseOptions(typedThenDrawn, byHandOverTyped, error)) << "seed " << seed << ": " << error;
        EXPECT_EQ(Applied(overTyped), Applied(byHandOverTyped)) << "seed " << seed << " over " << JoinArgs(typed);
    }
    EXPECT_GE(distinct.size(), static_cast<size_t>(kSeeds * 3 / 4));
    for (const char* option : {"--no-answer ", "--stop-reading-after ", "--reject ", "--corrupt ", "--duplicate ", "--notice-after ", "--hangup ",
                               "--split ", "--junk ", "--probe-junk ", "--delay-ms ", "--probe-delay-ms ",
                               "--stray-answer ", "--dup-then-refuse ", "--short-settings ", "--info-echo "})
        EXPECT_NE(all.find(option), std::string::npos) << option << " never drawn in " << all;
    EXPECT_EQ(all.find("--reject 0x43@"), std::string::npos) << "a refused radar packet cannot be seen by any tool";
    EXPECT_EQ(all.find("--dup-then-refuse 0x43@"), std::string::npos);

    ASSERT_NE(replaySeed, 0u);
    const std::string faults = JoinArgs(SeedFaultArgs(replaySeed));
    TempDir seeded, replayed;
    {
        DevSimProcess sim({"--seed", std::to_string(replaySeed), "--out", seeded.Path()});
        ASSERT_TRUE(sim.Started()) << sim.Describe();
        EXPECT_TRUE(sim.WaitForErr("--seed " + std::to_string(replaySeed) + " stands for: " + faults + "\n"))
            << sim.Describe();
        EXPECT_EQ(sim.Stop(), 0);
    }
    EXPECT_EQ(SummaryLine(ReadText(seeded.File("summary.txt")), "seed_faults"), faults);
    std::vector<std::string> replay = SeedFaultArgs(replaySeed);
    replay.insert(replay.end(), {"--out", replayed.Path()});
    DevSimProcess sim(replay);
    ASSERT_TRUE(sim.Started()) << sim.Describe();
    EXPECT_EQ(sim.Stop(), 0);
    EXPECT_EQ(SummaryLine(ReadText(replayed.File("summary.txt")), "seed_faults"), "(no seed_faults line)");
}

TEST(DevSimTest, DelaysAndBaudPacingHoldAnswersBack) {
    using std::chrono::milliseconds;
    struct Row {
        std::vector<std::string> args;
        Bytes send;
        Bytes expect;
        milliseconds atLeast;
    };
    const Bytes packet = Pattern(500, 15);
    const Row rows[] = {
        {{"--delay-ms", "300"}, Frame(0x47), {}, milliseconds(300)},
        {{"--probe-delay-ms", "300"}, Frame(0x45, {0x03}), kDefaultDeviceInfo, milliseconds(300)},
        // 505 bytes in, 7 bytes out, 10 bit times each at 19200 baud.
        {{"--baud", "19200"}, Frame(0x23, packet), Frame(0x24, {0x23, 0x01}), milliseconds((512 * 10 * 1000) / 19200)},
    };
    for (const Row& row : rows) {
        DevSimProcess sim(row.args);
        ASSERT_TRUE(sim.Started()) << sim.Describe();
        Port port(sim.PtyPath());
        ASSERT_TRUE(port.IsOpen());
        const size_t expected = row.expect.empty() ? 79 : row.expect.size();
        const auto before = std::chrono::steady_clock::now();
        port.Write(row.send);
        const Bytes got = port.Read(expected, kAnswerMs);
        const auto elapsed = std::chrono::steady_clock::now() - before;
        ASSERT_EQ(got.size(), expected) << row.args[0];
        if (!row.expect.empty()) {
            EXPECT_EQ(Hex(got), Hex(row.expect)) << row.args[0];
        }
        EXPECT_GE(elapsed, row.atLeast) << row.args[0];
        EXPECT_EQ(sim.Stop(), 0);
    }
}

TEST(DevSimTest, ExitAfterFinishEndsTheRunByItself) {
    struct Row {
        std::vector<std::pair<Bytes, Bytes>> script;
        const char* what;
    };
    const Row rows[] = {
        {{{Frame(0x4A, Pattern(73, 16)), Frame(0x4B, {0x4A, 0x01})}}, "settings written"},
        {{{Frame(0x21), Frame(0x22)}, {Frame(0x23, {1, 2, 3}), Frame(0x24, {0x23, 0x01})}, {Frame(0x20), {}}},
         "quiet after the last end command"},
    };
    for (const Row& row : rows) {
        TempDir dir;
        DevSimProcess sim({"--exit-after-finish", "--out", dir.Path()});
        ASSERT_TRUE(sim.Started()) << sim.Describe();
        Port port(sim.PtyPath());
        ASSERT_TRUE(port.IsOpen());
        for (const auto& [send, expect] : row.script) port.Exchange(send, expect, row.what);
        EXPECT_EQ(sim.WaitExit(), 0) << row.what;
        EXPECT_TRUE(std::filesystem::exists(dir.File("summary.txt"))) << row.what;
    }
}

TEST(DevSimTest, StopSignalsExitZeroAndRemoveTheLink) {
    for (int signalNumber : {SIGTERM, SIGINT}) {
        TempDir dir;
        const std::string link = dir.File("ttyDEV");
        // A link left behind by a killed run is replaced.
        ASSERT_EQ(symlink("/dev/pts/no-such-pty", link.c_str()), 0);
        DevSimProcess sim({"--link", link});
        ASSERT_TRUE(sim.Started()) << sim.Describe();
        const std::string path = sim.PtyPath();
        EXPECT_EQ(std::filesystem::read_symlink(link).string(), path);
        Port port(link);
        port.Exchange(Frame(0x45, {0x03}), kDefaultDeviceInfo, "through the link");
        EXPECT_EQ(sim.Stop(signalNumber), 0);
        struct stat info {};
        EXPECT_NE(lstat(link.c_str(), &info), 0) << "link still there after signal " << signalNumber;
    }
}

TEST(DevSimTest, LinkOverARealFileIsRefused) {
    TempDir dir;
    const std::string file = dir.File("precious");
    testsupport::WriteTextFile(file, "keep me");
    DevSimProcess sim({"--link", file});
    EXPECT_EQ(sim.WaitExit(), 1);
    EXPECT_EQ(ReadText(file), "keep me");
}

// Bad command lines are refused with a reason that names the option; the table is checked in
// process, and the program's exit code once.
TEST(DevSimTest, BadCommandLinesAreRefused) {
    const std::vector<std::vector<std::string>> rows = {
        {"--bogus"},
        {"--fw-version"},
        {"--fw-version", "65536"},
        {"--data-version", "12x"},
        {"--radar-version=-1"},
        {"--baud", "0"},
        {"--baud", "12000001"},
        {"--delay-ms", "-5"},
        {"--probe-delay-ms", "600001"},
        {"--link-delay-ms", "x"},
        {"--no-answer", "0x23"},
        {"--reject", "0x123@1"},
        {"--corrupt", "0x23@0"},
        {"--duplicate", "@1"},
        {"--hangup", "0x23"},
        {"--stop-reading-after", "0"},
        {"--stop-reading-after", "0x23@0"},
        {"--restart-reopen", "0.3"},
        {"--restart-reopen", "0.3,2.0001", "--link", "l"},
        {"--restart-reopen", "0.3,2"},
        {"--seed", "-1"},
        {"--seed", "4294967296"},
        {"--stray-answer", "0x4B"},
        {"--dup-then-refuse", "0x23@0"},
        {"--short-settings", "250"},
        {"--short-settings", "x"},
        {"--info-echo", "0x100"},
        {"--probe-junk=1"},
        {"--silent=1"},
        {"--silent=true"},
        {"--junk={}"},
        {"--exit-after-finish="},
        {"--out="},
        {"--settings", ""},
        {"--fw-version=", "3"},
        {"--out=", "d"},
        {"--no-answer", "0x23@1", "--no-answer", "0x23"},
        {"stray"},
        {"--"},
        {"--help", "-x"},
        {"--device", "/dev/null", "--link", "l"},
    };
    for (const auto& args : rows) {
        SimOptions options;
        std::string error;
        const std::string line = JoinArgs(args);
        EXPECT_FALSE(ParseOptions(args, options, error)) << line;
        const std::string name = args[0] == "--help" ? args.back() : args[0].substr(0, args[0].find('='));
        EXPECT_NE(error.find(name == "--device" ? "--link" : name), std::string::npos) << line << ": " << error;
    }
    TempDir dir;
    testsupport::WriteFile(dir.File("short.bin"), Pattern(72, 1));
    // The settings blocks are read at start: a wrong one is a bad command line too.
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"--bogus"}, {"--settings", dir.File("short.bin")}, {"--settings-info", dir.File("missing.bin")}}) {
        DevSimProcess sim(args);
        EXPECT_FALSE(sim.Started()) << sim.Describe();
        EXPECT_EQ(sim.WaitExit(), 64);
    }
}

TEST(DevSimTest, ParsedOptionsTakeBothSpellingsAndHex) {
    struct Row {
        std::vector<std::string> args;
        std::function<bool(const SimOptions&)> holds;
        const char* what;
    };
    const Row rows[] = {
        {{}, [](const SimOptions& o) { return o.firmwareVersion == 12 && o.dataVersion == 256 && o.radarVersion == 0x1a2b && o.baud == 0 && o.faults.Empty(); }, "defaults"},
        {{"--fw-version=0x0105", "--data-version", "300", "--radar-version", "0XFFFF"},
         [](const SimOptions& o) { return o.firmwareVersion == 0x0105 && o.dataVersion == 300 && o.radarVersion == 0xFFFF; }, "versions"},
        {{"--baud", "19200", "--delay-ms=7", "--probe-delay-ms", "600000", "--link-delay-ms", "0x10"},
         [](const SimOptions& o) { return o.baud == 19200 && o.delayMs == 7 && o.probeDelayMs == 600000 && o.linkDelayMs == 16; }, "numbers"},
        {{"--exit-after-finish", "--silent", "--split", "--junk", "--probe-junk", "-h"},
         [](const SimOptions& o) { return o.exitAfterFinish && o.silent && o.split && o.junk && o.probeJunk && o.help; }, "flags"},
        {{"--link", "a", "--out=b", "--make-samples", "c", "--settings", "d", "--settings-info=e"},
         [](const SimOptions& o) { return o.linkPath == "a" && o.outDir == "b" && o.makeSamplesDir == "c" && o.settingsFile == "d" && o.settingsInfoFile == "e"; }, "paths"},
        {{"--no-answer", "0x23@2", "--reject=6@1", "--corrupt", "0x45@1", "--duplicate", "0xff@1000000000", "--notice-after", "0x1A@1", "--hangup", "0x00@3"},
         [](const SimOptions& o) {
             const CFaultPlan& f = o.faults;
             return f.Rules().size() == 6 && f.Has(FaultKind::NoAnswer, 0x23, 2) && !f.Has(FaultKind::NoAnswer, 0x23, 1) &&
                    f.Has(FaultKind::Reject, 0x06, 1) && f.Has(FaultKind::Corrupt, 0x45, 1) &&
                    f.Has(FaultKind::Duplicate, 0xFF, 1000000000) && f.Has(FaultKind::NoticeAfter, 0x1A, 1) &&
                    f.Has(FaultKind::HangUp, 0x00, 3) && !f.Has(FaultKind::HangUp, 0x23, 2);
         }, "faults"},
        {{"--stop-reading-after", "0x23@2", "--stop-reading-after=7", "--restart-reopen", "0.3,2", "--link", "l"},
         [](const SimOptions& o) {
             const CFaultPlan& f = o.faults;
             return f.Has(FaultKind::StopReading, 0x23, 2) && f.HasFrame(FaultKind::StopReadingAtFrame, 7) &&
                    !f.HasFrame(FaultKind::StopReadingAtFrame, 2) && o.restartReopen && o.restartCloseMs == 300 &&
                    o.restartAwayMs == 2000;
         }, "line stops"},
        {{"--device", "/dev/ttyUSB9", "--baud", "115200"},
         [](const SimOptions& o) { return o.devicePath == "/dev/ttyUSB9" && o.baud == 115200 && o.linkPath.empty(); }, "device"},
        {{"--seed", "0"}, [](const SimOptions& o) { return o.hasSeed && o.seed == 0 && o.seedArgs == SeedFaultArgs(0); }, "seed"},
        {{"--stray-answer", "0x4B@7", "--dup-then-refuse=0x06@3", "--short-settings", "0", "--info-echo=0xff"},
         [](const SimOptions& o) {
             const CFaultPlan& f = o.faults;
             return f.Has(FaultKind::StrayAnswer, 0x4B, 7) && f.StraysBefore(7) == std::vector<uint8_t>{0x4B} &&
                    f.StraysBefore(6).empty() && f.Has(FaultKind::DupThenRefuse, 0x06, 3) && f.shortSettingsBytes == 0 &&
                    f.infoEcho == 0xFF;
         }, "answer faults"},
        {{}, [](const SimOptions& o) { return o.faults.shortSettingsBytes == -1 && o.faults.infoEcho == -1; }, "no answer faults"},
        {{"--delay-ms", "5", "--fw-version", "1", "--delay-ms=7", "--fw-version", "2", "--no-answer", "0x23@1", "--no-answer", "0x23@2"},
         [](const SimOptions& o) {
             return o.delayMs == 7 && o.firmwareVersion == 2 && o.faults.Rules().size() == 2 &&
                    o.faults.Has(FaultKind::NoAnswer, 0x23, 1) && o.faults.Has(FaultKind::NoAnswer, 0x23, 2);
         }, "a value given twice: the last counts; faults add up"},
        {{"--link", "--out", "--settings", "--silent=1", "--out", "-h", "--junk"},
         [](const SimOptions& o) {
             return o.linkPath == "--out" && o.settingsFile == "--silent=1" && o.outDir == "-h" && !o.silent && !o.help && o.junk;
         },
         "the word after a value option is its value"},
    };
    for (const Row& row : rows) {
        SimOptions options;
        std::string error;
        ASSERT_TRUE(ParseOptions(row.args, options, error)) << row.what << ": " << error;
        EXPECT_TRUE(row.holds(options)) << row.what << ": " << JoinArgs(row.args);
    }
}

// The help names every option of the parser's table, each as a whole word, and no other.
TEST(DevSimTest, HelpListsEveryOption) {
    const std::string help = UsageText();
    std::set<std::string> inHelp;
    for (size_t at = help.find("--"); at != std::string::npos; at = help.find("--", at + 2)) {
        if (at > 0 && help[at - 1] != ' ' && help[at - 1] != '(') continue;
        const size_t end = help.find_first_not_of("abcdefghijklmnopqrstuvwxyz-", at + 2);
        inHelp.insert(help.substr(at, end - at));
    }
    const std::vector<std::string> names = OptionNames();
    const std::set<std::string> table(names.begin(), names.end());
    EXPECT_EQ(table.size(), names.size()) << "an option twice in the table";
    for (const std::string& name : table) EXPECT_TRUE(inHelp.count(name)) << name << " missing in the help";
    for (const std::string& name : inHelp) EXPECT_TRUE(table.count(name)) << name << " in the help is no option";
    EXPECT_GE(table.size(), 30u);
    // Laid out for a terminal: the option texts fit beside the longest option's name.
    for (size_t start = 0; start < help.size();) {
        const size_t end = std::min(help.find('\n', start), help.size());
        EXPECT_LE(end - start, 100u) << help.substr(start, end - start);
        start = end + 1;
    }
    const testsupport::ProcessResult run = testsupport::RunProcess({testsupport::BinPath("iap-devsim"), "--help"}, ScaledMs(20000));
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, help);
}

// Checks one Intel HEX text as the tool's reader demands it; returns the memory it describes.
struct HexContent {
    uint32_t base = 0;
    Bytes data;
    int segments = 0;
    bool startRecordBeforeEnd = false;
    std::string trailer;
};

HexContent CheckHex(const std::string& text) {
    HexContent content;
    size_t pos = 0;
    uint32_t upper = 0;
    bool first = true, ended = false, sawStart = false;
    while (!ended) {
        const size_t eol = text.find("\r\n", pos);
        EXPECT_NE(eol, std::string::npos) << "record without CR LF at " << pos;
        if (eol == std::string::npos) break;
        const std::string line = text.substr(pos, eol - pos);
        pos = eol + 2;
        EXPECT_EQ(line.find('\n'), std::string::npos);
        EXPECT_GE(line.size(), 11u);
        EXPECT_EQ(line[0], ':');
        Bytes bytes;
        for (size_t i = 1; i + 1 < line.size(); i += 2) {
            const std::string digits = line.substr(i, 2);
            EXPECT_EQ(digits.find_first_not_of("0123456789ABCDEF"), std::string::npos) << line;
            bytes.push_back(static_cast<uint8_t>(std::stoul(digits, nullptr, 16)));
        }
        unsigned sum = 0;
        for (uint8_t b : bytes) sum += b;
        EXPECT_EQ(sum & 0xFF, 0u) << "checksum of " << line;
        EXPECT_EQ(bytes.size(), bytes[0] + 5u) << line;
        const uint8_t type = bytes[3];
        if (first) {
            EXPECT_EQ(type, 4) << "the first record must set the segment";
        }
        first = false;
        const uint32_t offset = (bytes[1] << 8) | bytes[2];
        switch (type) {
        case 0: {
            EXPECT_EQ(bytes[0], 16) << line;
            const uint32_t address = (upper << 16) + offset;
            if (content.data.empty()) content.base = address;
            EXPECT_EQ(address, content.base + content.data.size()) << "records must be contiguous";
            content.data.insert(content.data.end(), bytes.begin() + 4, bytes.end() - 1);
            break;
        }
        case 1:
            EXPECT_EQ(line, ":00000001FF");
            ended = true;
            content.startRecordBeforeEnd = sawStart;
            break;
        case 4:
            upper = (bytes[4] << 8) | bytes[5];
            ++content.segments;
            break;
        case 5: sawStart = true; break;
        default: ADD_FAILURE() << "unexpected record type in " << line;
        }
    }
    content.trailer = text.substr(std::min(pos, text.size()));
    return content;
}

TEST(DevSimTest, MakeSamplesIsDeterministicAndWellFormed) {
    TempDir first, second;
    for (const TempDir* dir : {&first, &second}) {
        const auto run = testsupport::RunProcess({testsupport::BinPath("iap-devsim"), "--make-samples", dir->Path()},
                                                 ScaledMs(20000));
        ASSERT_EQ(run.status, 0) << run.err;
    }
    const char* names[] = {"AC7811_project.hex", "flagdata.bin", "audioHead.bin", "picHead.bin", "rdfwd.bin",
                           "ver.txt"};
    for (const char* name : names) {
        const Bytes a = ReadFile(first.File(name));
        EXPECT_FALSE(a.empty()) << name;
        EXPECT_EQ(a, ReadFile(second.File(name))) << name << " differs between two runs";
    }

    const HexContent hex = CheckHex(ReadText(first.File("AC7811_project.hex")));
    EXPECT_EQ(hex.base, 0x0800C000u);
    EXPECT_EQ(hex.data.size(), 24u * 1024u);
    EXPECT_EQ(hex.segments, 2);
    EXPECT_TRUE(hex.startRecordBeforeEnd);
    EXPECT_EQ(hex.trailer, "0105\r\n");

    std::vector<size_t> sizes;
    for (const char* name : {"flagdata.bin", "audioHead.bin", "picHead.bin"}) {
        const size_t size = ReadFile(first.File(name)).size();
        EXPECT_GE(size, 100u * 1024u) << name;
        EXPECT_NE(size % 4096, 0u) << name;
        for (size_t other : sizes) EXPECT_NE(size, other) << name;
        sizes.push_back(size);
    }
    EXPECT_EQ(ReadFile(first.File("rdfwd.bin")).size(), 70000u);
    const std::string ver = ReadText(first.File("ver.txt"));
    EXPECT_EQ(ver.rfind("AC7811\n0105\n", 0), 0u) << ver;
    EXPECT_EQ(std::count(ver.begin(), ver.end(), '\n'), 4);
}

}  // namespace
