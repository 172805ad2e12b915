// The serial port end to end over pseudo-terminals (POSIX): the master plays the device.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pty.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "SerialTestParts.h"
#include "support/TestSupport.h"
#include "transport/PortList.h"
#include "transport/Serial.h"
#include "transport/SerialBackend.h"
#include "transport/Termios2_linux.h"

namespace {

using namespace serialtest;
using OpenError = CSerial::OpenError;
using testsupport::PtyPair;
using testsupport::ScaledMs;
using testsupport::WaitUntil;

size_t CountEntries(const char* folder) {
    size_t count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(folder)) ++count;
    return count;
}
size_t OpenFdCount() { return CountEntries("/proc/self/fd"); }
size_t ThreadCount() {
    // Some runtimes (ThreadSanitizer) start a helper thread with the first thread the process makes;
    // make it exist before any count is taken.
    static const bool warmedUp = [] {
        std::thread([] {}).join();
        return true;
    }();
    (void)warmedUp;
    return CountEntries("/proc/self/task");
}
// A joined thread can still be listed for a moment after the join returns (the kernel clears the
// thread's id before it leaves /proc), so a count is waited for rather than read once.
bool ThreadCountSettlesAt(size_t count) {
    return WaitUntil([count] { return ThreadCount() == count; }, 2000);
}

// Plays the device for one handshake: reads the probe from the master, waits, answers.
class ProbeAnswerer {
public:
    // pieceGapMs > 0 writes the answer byte by byte with that gap.
    ProbeAnswerer(int masterFd, Bytes answer, int delayMs = 0, std::function<void()> onProbe = {},
                  int pieceGapMs = 0)
        : thread_([this, masterFd, answer, delayMs, onProbe, pieceGapMs] {
              probe_ = ReadFrom(masterFd, kProbeOfPort1.size(), 3000);
              if (probe_.empty()) return;
              if (onProbe) onProbe();
              if (delayMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
              const size_t piece = pieceGapMs > 0 ? 1 : answer.size();
              for (size_t at = 0; at < answer.size(); at += piece) {
                  if (at > 0) std::this_thread::sleep_for(std::chrono::milliseconds(pieceGapMs));
                  if (::write(masterFd, answer.data() + at, piece) < 0) probe_.clear();
              }
          }) {}
    ~ProbeAnswerer() { Join(); }
    const Bytes& Probe() {
        Join();
        return probe_;
    }
    void Join() {
        if (thread_.joinable()) thread_.join();
    }
    static Bytes ReadFrom(int fd, size_t count, int timeoutMs) {
        Bytes out;
        WaitUntil([&] {
            uint8_t buffer[4096];
            const ssize_t n = ::read(fd, buffer, std::min(sizeof buffer, count - out.size()));
            if (n > 0) out.insert(out.end(), buffer, buffer + n);
            return out.size() >= count;
        }, timeoutMs);
        return out;
    }

private:
    Bytes probe_;
    std::thread thread_;
};

void MakeNonBlocking(int fd) { fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK); }

// Writes everything to a non-blocking master, waiting while the pty is full.
void WriteAll(int fd, const Bytes& bytes) {
    size_t done = 0;
    const bool complete = WaitUntil([&] {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n > 0) done += static_cast<size_t>(n);
        return done == bytes.size();
    }, 5000);
    ASSERT_TRUE(complete);
}

class SerialPtyTest : public ::testing::Test {
protected:
    SerialPtyTest() : hook_([this](const std::string& event) {
        std::lock_guard<std::mutex> lock(mutex_);
        hookEvents_.push_back(event + (serial_.IsRunning() ? "+reader" : ""));
    }) {
        MakeNonBlocking(pty_.MasterFd());
        SetPortList({pty_.SlavePath()});
        serial_.SetReceiver(&receiver_);
        serial_.SetOpenHook(&hook_);
        serial_.SetProbe(&kDeviceProbe);
    }
    ~SerialPtyTest() override {
        serial_.Close();
        SetPortList({});
    }
    int OpenAnswered(int scanBaud = 256000) {
        ProbeAnswerer device(pty_.MasterFd(), DeviceInfoAnswer(1));
        return serial_.Open(1, scanBaud, 8, 0, 0);
    }
    std::vector<std::string> HookEvents() {
        std::lock_guard<std::mutex> lock(mutex_);
        return hookEvents_;
    }

    PtyPair pty_;
    RecordingReceiver receiver_;
    std::mutex mutex_;
    std::vector<std::string> hookEvents_;
    RecordingHook hook_;
    CSerial serial_{nullptr, 0, 10};
};

TEST_F(SerialPtyTest, HandshakeOpensAndSwitchesToTheTransferLine) {
    Termios2Speed scanSpeed;
    ProbeAnswerer device(pty_.MasterFd(), DeviceInfoAnswer(1), 0,
                         [&] { Termios2GetSpeed(pty_.MasterFd(), &scanSpeed); });
    ASSERT_NE(serial_.Open(1, 9600, 8, 0, 0), 0);
    EXPECT_EQ(device.Probe(), kProbeOfPort1);
    EXPECT_EQ(scanSpeed.outputBaud, 9600u);  // the probe ran at the scan rate
    EXPECT_TRUE(serial_.IsOpen());
    EXPECT_TRUE(serial_.IsRunning());
    EXPECT_EQ(serial_.LastOpenError(), OpenError::None);
    EXPECT_EQ(serial_.LastPortName(), pty_.SlavePath());
    // In this order, and both before the reader starts.
    EXPECT_EQ(HookEvents(), (std::vector<std::string>{"restart", "info:1"}));

    // A pty master reports the slave's line settings.
    Termios2Speed speed;
    ASSERT_EQ(Termios2GetSpeed(pty_.MasterFd(), &speed), 1);
    EXPECT_EQ(speed.outputBaud, 256000u);
    EXPECT_EQ(speed.inputBaud, 256000u);
    EXPECT_TRUE(speed.other);
    termios tio{};
    ASSERT_EQ(tcgetattr(pty_.MasterFd(), &tio), 0);
    EXPECT_EQ(tio.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(tio.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
    EXPECT_EQ(tio.c_cflag & (CLOCAL | CREAD), static_cast<tcflag_t>(CLOCAL | CREAD));
    EXPECT_EQ(tio.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
    EXPECT_EQ(tio.c_iflag & (IXON | IXOFF | ICRNL | ISTRIP), 0u);
    EXPECT_EQ(tio.c_oflag & OPOST, 0u);
}

TEST_F(SerialPtyTest, HandshakeAnswerRules) {
    struct Case {
        const char* name;
        Bytes answer;
        int delayMs;
        int pieceGapMs;
        bool opens;
    };
    const Case cases[] = {
        {"valid", DeviceInfoAnswer(1), 0, 0, true},
        {"valid after 300 ms", DeviceInfoAnswer(1), 300, 0, true},
        {"valid in 1-byte pieces 2 ms apart", DeviceInfoAnswer(1), 0, 2, true},
        // Longer gaps than the handshake read's byte gap: reading goes on within the handshake wait.
        {"valid in 1-byte pieces 30 ms apart", DeviceInfoAnswer(1), 0, 30, true},
        {"a stray byte before the answer", Concat({{0x00}, DeviceInfoAnswer(1)}), 0, 0, true},
        {"noise with a false header, no frame", {0x55, 0xAC, 0x03, 0x00, 0x46, 0x13}, 0, 0, false},
        {"only four bytes", {0xAC, 0x04, 0x00, 0x46}, 0, 0, false},
        {"byte 3 is not F", Frame(0x47, {}), 0, 0, false},
        {"answer after 1100 ms", DeviceInfoAnswer(1), 1100, 0, false},
        {"no answer", {}, 0, 0, false},
    };
    const size_t fds = OpenFdCount();
    const size_t threads = ThreadCount();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        hookEvents_.clear();
        {
            ProbeAnswerer device(pty_.MasterFd(), c.answer, c.delayMs, {}, c.pieceGapMs);
            EXPECT_EQ(serial_.Open(1, 256000, 8, 0, 0) != 0, c.opens);
            EXPECT_EQ(device.Probe(), kProbeOfPort1);
        }
        EXPECT_EQ(serial_.IsOpen(), c.opens);
        EXPECT_EQ(serial_.LastOpenError(), c.opens ? OpenError::None : OpenError::NoAnswer);
        EXPECT_EQ(HookEvents().size(), c.opens ? 2u : 0u);
        serial_.Close();
        EXPECT_EQ(OpenFdCount(), fds);
        EXPECT_TRUE(ThreadCountSettlesAt(threads)) << ThreadCount() << " threads, " << threads << " before";
    }
}

TEST_F(SerialPtyTest, ReaderDeliversEverythingInOrderInNonEmptyChunks) {
    ASSERT_NE(OpenAnswered(), 0);
    Bytes sent;
    for (const size_t size : {1u, 7u, 1024u, 1025u, 3000u, 5u, 20000u}) {
        Bytes piece(size);
        for (size_t i = 0; i < size; ++i) piece[i] = static_cast<uint8_t>(sent.size() + i * 7);
        WriteAll(pty_.MasterFd(), piece);
        sent.insert(sent.end(), piece.begin(), piece.end());
    }
    ASSERT_TRUE(WaitUntil([&] { return receiver_.Joined().size() >= sent.size(); }, 5000));
    EXPECT_EQ(receiver_.Joined(), sent);
    for (const Bytes& chunk : receiver_.Chunks()) {
        EXPECT_GE(chunk.size(), 1u);
        EXPECT_LE(chunk.size(), 1024u);
    }
    for (const std::thread::id id : receiver_.Threads()) EXPECT_NE(id, std::this_thread::get_id());
}

TEST_F(SerialPtyTest, WriteRulesAndLargeWrites) {
    const uint8_t byte = 0x55;
    EXPECT_EQ(serial_.Write(&byte, 1), 0);  // closed
    ASSERT_NE(OpenAnswered(), 0);
    EXPECT_EQ(serial_.Write(nullptr, 5), 0);
    EXPECT_EQ(serial_.Write(&byte, 0), 0);

    // Far more than a pty buffers, so the write has to wait for the reader to drain it.
    Bytes big(256 * 1024);
    for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<uint8_t>(i ^ (i >> 8));
    Bytes arrived;
    std::thread peer([&] { arrived = ProbeAnswerer::ReadFrom(pty_.MasterFd(), big.size(), 10000); });
    EXPECT_EQ(serial_.Write(big.data(), static_cast<uint32_t>(big.size())), 1);
    peer.join();
    EXPECT_EQ(arrived, big);

    serial_.Close();
    EXPECT_EQ(serial_.Write(&byte, 1), 0);
}

TEST_F(SerialPtyTest, CloseEndsAWriteThatThePeerNeverReads) {
    ASSERT_NE(OpenAnswered(), 0);
    std::atomic<int> result{-1};
    std::atomic<bool> ended{false};
    std::thread writer([&] {
        Bytes big(4 * 1024 * 1024, 0xA5);
        result = serial_.Write(big.data(), static_cast<uint32_t>(big.size()));
        ended = true;
    });
    // Closed once the first bytes reached the peer, so the write is under way (4 MiB is far more
    // than a pty holds: it cannot have ended by itself).
    pollfd peer{pty_.MasterFd(), POLLIN, 0};
    ASSERT_TRUE(WaitUntil([&] { return ::poll(&peer, 1, 0) == 1; }, ScaledMs(10000)));
    const auto start = std::chrono::steady_clock::now();
    serial_.Close();
    // Without the close ending it, the write would never end: the bound is only there to say so
    // instead of hanging until the test's time limit.
    const bool endedSoon = WaitUntil([&] { return ended.load(); }, ScaledMs(5000));
    const auto tookMs =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
    EXPECT_TRUE(endedSoon) << "the write was still running " << tookMs << " ms after the close";
    writer.join();
    EXPECT_EQ(result.load(), 0) << "ended " << tookMs << " ms after the close";
}

// A device that stops reading fills the pty's buffer: the write gives up after its bound (the frame's
// wire time plus the slack) instead of holding the writer, and says how far the frame got. The peer
// then holds exactly the bytes reported as written.
TEST_F(SerialPtyTest, AWriteThatCannotFinishIsReportedAsStalled) {
    ASSERT_NE(OpenAnswered(), 0);
    // Eight packets' frames: twice what a pty holds while nobody reads it.
    const Bytes frames(8 * (4096 + ISP_FRAME_OVERHEAD), 0x5A);
    EXPECT_EQ(serial_.Write(frames.data(), static_cast<uint32_t>(frames.size())), 0);
    const auto stalls = receiver_.Stalls();
    ASSERT_EQ(stalls.size(), 1u);
    EXPECT_EQ(stalls[0].length, frames.size());
    EXPECT_GT(stalls[0].written, 0u);
    EXPECT_LT(stalls[0].written, frames.size());
    EXPECT_EQ(stalls[0].waitedMs, SerialWriteLimitMs(SERIAL_TRANSFER_BAUD, 10, static_cast<uint32_t>(frames.size())));
    EXPECT_TRUE(receiver_.LineErrors().empty()) << "a stall is no lost line";
    EXPECT_TRUE(serial_.LineFailed());
    const Bytes arrived = ProbeAnswerer::ReadFrom(pty_.MasterFd(), stalls[0].written, ScaledMs(5000));
    EXPECT_EQ(arrived.size(), stalls[0].written);
    // The line failed once; a second write on it is not reported again.
    EXPECT_EQ(serial_.Write(frames.data(), 1), 1);
    EXPECT_EQ(receiver_.Stalls().size(), 1u);
}

TEST_F(SerialPtyTest, CloseIsIdempotentAndReopenReplacesPortAndReader) {
    serial_.Close();
    serial_.Close();
    EXPECT_FALSE(serial_.IsOpen());

    const size_t threads = ThreadCount();
    ASSERT_NE(OpenAnswered(), 0);
    EXPECT_TRUE(ThreadCountSettlesAt(threads + 1)) << ThreadCount();
    const uint32_t firstReader = serial_.GetThreadId();

    PtyPair other;
    MakeNonBlocking(other.MasterFd());
    SetPortList({other.SlavePath()});
    {
        ProbeAnswerer device(other.MasterFd(), DeviceInfoAnswer(1));
        ASSERT_NE(serial_.Open(1, 256000, 8, 0, 0), 0);
    }
    EXPECT_TRUE(ThreadCountSettlesAt(threads + 1)) << ThreadCount();  // the first reader is gone
    EXPECT_NE(serial_.GetThreadId(), firstReader);
    WriteAll(other.MasterFd(), {1, 2, 3});
    EXPECT_TRUE(WaitUntil([&] { return receiver_.Joined() == Bytes{1, 2, 3}; }, 2000));

    // The first pty was released: another port object may take it.
    SetPortList({pty_.SlavePath()});
    CSerial second(nullptr, 0, 10);
    second.SetProbe(&kDeviceProbe);
    ProbeAnswerer device(pty_.MasterFd(), DeviceInfoAnswer(1));
    EXPECT_NE(second.Open(1, 256000, 8, 0, 0), 0);
}

TEST_F(SerialPtyTest, OpenFailuresLeaveNothingOpen) {
    testsupport::TraceCapture trace;
    testsupport::TempDir dir;
    testsupport::WriteFile(dir.File("plain"), {1, 2, 3});
    struct Case {
        const char* name;
        std::vector<std::string> list;  // empty: the pty
        uint8_t port;
        uint32_t baud;
        uint8_t byteSize, parity, stopBits;
        OpenError expected;
    };
    const Case cases[] = {
        {"port 2 of a one-entry list", {}, 2, 256000, 8, 0, 0, OpenError::Missing},
        {"port 0", {}, 0, 256000, 8, 0, 0, OpenError::Missing},
        // A Cyrillic name as well: the trace line must keep it whole.
        {"nonexistent path", {"/dev/iap-нет-порта"}, 1, 256000, 8, 0, 0, OpenError::Missing},
        {"not a terminal", {dir.File("plain")}, 1, 256000, 8, 0, 0, OpenError::LineSettings},
        {"a folder", {dir.Path()}, 1, 256000, 8, 0, 0, OpenError::Other},
        {"baud 0", {}, 1, 0, 8, 0, 0, OpenError::LineSettings},
        {"byte size 4", {}, 1, 9600, 4, 0, 0, OpenError::LineSettings},
        {"byte size 9", {}, 1, 9600, 9, 0, 0, OpenError::LineSettings},
        {"parity 3", {}, 1, 9600, 8, 3, 0, OpenError::LineSettings},
        {"one and a half stop bits", {}, 1, 9600, 8, 0, 1, OpenError::LineSettings},
    };
    const size_t fds = OpenFdCount();
    const auto start = std::chrono::steady_clock::now();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SetPortList(c.list.empty() ? std::vector<std::string>{pty_.SlavePath()} : c.list);
        EXPECT_EQ(serial_.Open(c.port, c.baud, c.byteSize, c.parity, c.stopBits), 0);
        EXPECT_EQ(serial_.LastOpenError(), c.expected);
        EXPECT_FALSE(serial_.IsOpen());
        EXPECT_FALSE(serial_.IsRunning());
        EXPECT_EQ(OpenFdCount(), fds);
        // Refused before the handshake: no probe reached the device (Open has returned, so a probe
        // would be waiting in the pty already).
        uint8_t byte = 0;
        EXPECT_EQ(::read(pty_.MasterFd(), &byte, 1), -1) << "a probe was sent";
    }
    // Not one of them sat out a handshake wait (about a second each): far below that in all.
    const auto tookMs =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
    EXPECT_LT(tookMs, ScaledMs(5000)) << "ten refused opens took " << tookMs << " ms";
    EXPECT_TRUE(HookEvents().empty());
    EXPECT_TRUE(trace.Contains(L"[CSerial] /dev/iap-нет-порта open: ")) << "the port's name and reason stay readable";
}

TEST_F(SerialPtyTest, SecondOpenerOfAHeldPortIsBusy) {
    ASSERT_NE(OpenAnswered(), 0);
    const size_t fds = OpenFdCount();
    CSerial second(nullptr, 0, 10);
    second.SetProbe(&kDeviceProbe);
    EXPECT_EQ(second.Open(1, 256000, 8, 0, 0), 0);
    EXPECT_EQ(second.LastOpenError(), OpenError::Busy);
    EXPECT_FALSE(second.IsOpen());
    EXPECT_EQ(OpenFdCount(), fds);
    // The holder is untouched.
    const Bytes frame = Frame(CMD_READ_SETTINGS, {});
    EXPECT_EQ(serial_.Write(frame.data(), static_cast<uint32_t>(frame.size())), 1);
    EXPECT_EQ(ProbeAnswerer::ReadFrom(pty_.MasterFd(), frame.size(), 2000), frame);
}

// Root opens any mode, so as root the open runs in a child that gives up root first.
TEST_F(SerialPtyTest, PortWithoutPermissionIsPermissionDenied) {
    ASSERT_EQ(chmod(pty_.SlavePath().c_str(), 0), 0);
    const auto tryOpen = [this] {
        CSerial port(nullptr, 0, 10);
        port.SetProbe(&kDeviceProbe);
        const size_t fds = OpenFdCount();
        const bool ok = port.Open(1, 256000, 8, 0, 0) == 0 && !port.IsOpen() &&
                        port.LastOpenError() == OpenError::PermissionDenied && OpenFdCount() == fds;
        return ok;
    };
    if (geteuid() != 0) {
        EXPECT_TRUE(tryOpen());
        return;
    }
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const uid_t nobody = 65534;
        if (setgroups(0, nullptr) != 0 || setgid(nobody) != 0 || setuid(nobody) != 0) _exit(77);
        _exit(tryOpen() ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 77) GTEST_SKIP() << "cannot drop root here, and root opens any mode";
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

double ProcessCpuMs() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return now.tv_sec * 1000.0 + now.tv_nsec / 1e6;
}

TEST(SerialHangUpTest, AHungUpLineIsReportedOnceAndTheReaderPauses) {
    int master = -1;
    int slave = -1;
    char name[256] = {};
    ASSERT_EQ(openpty(&master, &slave, name, nullptr, nullptr), 0);
    close(slave);
    MakeNonBlocking(master);
    SetPortList({name});
    testsupport::TraceCapture trace;
    RecordingReceiver receiver;
    CSerial serial(&receiver, 0, 10);
    serial.SetProbe(&kDeviceProbe);
    {
        ProbeAnswerer device(master, DeviceInfoAnswer(1));
        ASSERT_NE(serial.Open(1, 256000, 8, 0, 0), 0);
    }
    EXPECT_FALSE(serial.LineFailed());
    close(master);  // the far end hangs up: every read now fails at once
    ASSERT_TRUE(WaitUntil([&] { return !receiver.LineErrors().empty(); }, 1000));
    EXPECT_TRUE(serial.LineFailed());
    // Every read of a hung-up line fails at once, so a reader that did not pause would use a whole
    // core. Judged by its share of the time that passed, which a busy machine only lowers.
    const double cpuBefore = ProcessCpuMs();
    const auto wallBefore = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const double cpuMs = ProcessCpuMs() - cpuBefore;
    const double wallMs = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - wallBefore).count();
    EXPECT_LT(cpuMs, wallMs / 3) << cpuMs << " ms of processor time in " << wallMs << " ms";
    // A write to the dead line fails too, but the loss was told already.
    const uint8_t byte = 0x55;
    EXPECT_EQ(serial.Write(&byte, 1), 0);
    serial.Close();
    EXPECT_FALSE(serial.IsOpen());
    EXPECT_FALSE(serial.LineFailed());
    const auto errors = receiver.LineErrors();
    ASSERT_EQ(errors.size(), 1u);
    // The receiver's reason is for people, in Russian; the trace keeps the system's words.
    EXPECT_EQ(errors[0].first, "ошибка ввода-вывода");
    EXPECT_NE(trace.Text().find(L"Input/output error"), std::wstring::npos);
    EXPECT_NE(errors[0].second, std::this_thread::get_id()) << "reported on the reader thread";
    const std::wstring text = trace.Text();
    size_t lines = 0;
    for (size_t at = text.find(L"read failed"); at != std::wstring::npos; at = text.find(L"read failed", at + 1))
        ++lines;
    EXPECT_EQ(lines, 1u);
    SetPortList({});
}

}  // namespace
