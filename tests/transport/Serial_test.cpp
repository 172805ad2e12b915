// The serial port end to end over pseudo-terminals (the master plays the device), the order of the
// open steps over a scripted back end, and the port-list rules.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <grp.h>
#include <pty.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <deque>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/frame/IspCodes.h"
#include "engine/frame/Packet_ISP.h"
#include "support/TestSupport.h"
#include "transport/PortList.h"
#include "transport/PortListScan.h"
#include "transport/Serial.h"
#include "transport/SerialBackend.h"
#include "transport/SerialObject.h"
#include "transport/SerialOpenHook.h"
#include "transport/Termios2_linux.h"

namespace {

using Bytes = std::vector<uint8_t>;
using OpenError = CSerial::OpenError;
using testsupport::PtyPair;
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

Bytes Frame(uint8_t cmd, const Bytes& payload) {
    CPacket_ISP frame;
    frame.Pack(cmd, payload.data(), static_cast<uint16_t>(payload.size()));
    return Bytes(frame.GetFrameData(), frame.GetFrameData() + frame.GetFrameSize());
}
Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}
Bytes DeviceInfoAnswer(uint8_t port) {
    return Frame(ANS_DEVICE_INFO, {CMD_DEVICE_INFO, port, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06});
}
const Bytes kProbeOfPort1 = {0xAC, 0x06, 0x00, 0x45, 0x01, 0x46};

class RecordingReceiver : public CSerialObject {
public:
    int OnReceive(const uint8_t* data, uint32_t length) override {
        std::lock_guard<std::mutex> lock(mutex_);
        chunks_.emplace_back(data, data + length);
        threads_.push_back(std::this_thread::get_id());
        return 1;
    }
    void OnLineError(const std::string& reason) override {
        std::lock_guard<std::mutex> lock(mutex_);
        lineErrors_.emplace_back(reason, std::this_thread::get_id());
    }
    std::vector<std::pair<std::string, std::thread::id>> LineErrors() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return lineErrors_;
    }
    std::vector<Bytes> Chunks() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return chunks_;
    }
    Bytes Joined() const {
        Bytes all;
        for (const Bytes& chunk : Chunks()) all.insert(all.end(), chunk.begin(), chunk.end());
        return all;
    }
    std::vector<std::thread::id> Threads() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return threads_;
    }

private:
    mutable std::mutex mutex_;
    std::vector<Bytes> chunks_;
    std::vector<std::thread::id> threads_;
    std::vector<std::pair<std::string, std::thread::id>> lineErrors_;
};

class RecordingHook : public CSerialOpenHook {
public:
    explicit RecordingHook(std::function<void(const std::string&)> record) : record_(std::move(record)) {}
    void RestartCommandSender() override { record_("restart"); }
    void RequestDeviceInfo(uint8_t port) override { record_("info:" + std::to_string(port)); }

private:
    std::function<void(const std::string&)> record_;
};

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
        EXPECT_EQ(ThreadCount(), threads);
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
    std::thread writer([&] {
        Bytes big(4 * 1024 * 1024, 0xA5);
        result = serial_.Write(big.data(), static_cast<uint32_t>(big.size()));
    });
    // The verdict holds however far the writer got: a write in progress or one yet to start must fail.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const auto start = std::chrono::steady_clock::now();
    serial_.Close();
    writer.join();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
    EXPECT_EQ(result.load(), 0);
}

TEST_F(SerialPtyTest, CloseIsIdempotentAndReopenReplacesPortAndReader) {
    serial_.Close();
    serial_.Close();
    EXPECT_FALSE(serial_.IsOpen());

    const size_t threads = ThreadCount();
    ASSERT_NE(OpenAnswered(), 0);
    EXPECT_EQ(ThreadCount(), threads + 1);
    const uint32_t firstReader = serial_.GetThreadId();

    PtyPair other;
    MakeNonBlocking(other.MasterFd());
    SetPortList({other.SlavePath()});
    {
        ProbeAnswerer device(other.MasterFd(), DeviceInfoAnswer(1));
        ASSERT_NE(serial_.Open(1, 256000, 8, 0, 0), 0);
    }
    EXPECT_EQ(ThreadCount(), threads + 1);  // the first reader is gone
    EXPECT_NE(serial_.GetThreadId(), firstReader);
    WriteAll(other.MasterFd(), {1, 2, 3});
    EXPECT_TRUE(WaitUntil([&] { return receiver_.Joined() == Bytes{1, 2, 3}; }, 2000));

    // The first pty was released: another port object may take it.
    SetPortList({pty_.SlavePath()});
    CSerial second(nullptr, 0, 10);
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
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SetPortList(c.list.empty() ? std::vector<std::string>{pty_.SlavePath()} : c.list);
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(serial_.Open(c.port, c.baud, c.byteSize, c.parity, c.stopBits), 0);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));
        EXPECT_EQ(serial_.LastOpenError(), c.expected);
        EXPECT_FALSE(serial_.IsOpen());
        EXPECT_FALSE(serial_.IsRunning());
        EXPECT_EQ(OpenFdCount(), fds);
    }
    EXPECT_TRUE(HookEvents().empty());
    EXPECT_EQ(ProbeAnswerer::ReadFrom(pty_.MasterFd(), 1, 20), Bytes{});  // no probe was sent
    EXPECT_TRUE(trace.Contains(L"[CSerial] /dev/iap-нет-порта open: ")) << "the port's name and reason stay readable";
}

TEST_F(SerialPtyTest, SecondOpenerOfAHeldPortIsBusy) {
    ASSERT_NE(OpenAnswered(), 0);
    const size_t fds = OpenFdCount();
    CSerial second(nullptr, 0, 10);
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
    {
        ProbeAnswerer device(master, DeviceInfoAnswer(1));
        ASSERT_NE(serial.Open(1, 256000, 8, 0, 0), 0);
    }
    EXPECT_FALSE(serial.LineFailed());
    close(master);  // the far end hangs up: every read now fails at once
    ASSERT_TRUE(WaitUntil([&] { return !receiver.LineErrors().empty(); }, 1000));
    EXPECT_TRUE(serial.LineFailed());
    const double cpuBefore = ProcessCpuMs();
    WaitUntil([] { return false; }, 500);
    EXPECT_LT(ProcessCpuMs() - cpuBefore, 150.0);
    // A write to the dead line fails too, but the loss was told already.
    const uint8_t byte = 0x55;
    EXPECT_EQ(serial.Write(&byte, 1), 0);
    serial.Close();
    EXPECT_FALSE(serial.IsOpen());
    EXPECT_FALSE(serial.LineFailed());
    const auto errors = receiver.LineErrors();
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].first, "Input/output error");
    EXPECT_NE(errors[0].second, std::this_thread::get_id()) << "reported on the reader thread";
    const std::wstring text = trace.Text();
    size_t lines = 0;
    for (size_t at = text.find(L"read failed"); at != std::wstring::npos; at = text.find(L"read failed", at + 1))
        ++lines;
    EXPECT_EQ(lines, 1u);
    SetPortList({});
}

// A back end that answers from a script and logs every call, to check the order of the open steps
// and what a failure at each step leaves behind.
struct ScriptLog {
    std::mutex mutex;
    std::vector<std::string> calls;
    std::string failAt;          // the call that fails
    std::deque<int> readScript;  // ReadAvailable results: n > 0 delivers n bytes, else returned as is
    std::atomic<int> readAvailableCalls{0};
    // What the handshake reads get, chunk by chunk (an empty chunk: nothing within the wait); when
    // empty, the probe read gets a valid answer at once.
    std::deque<Bytes> probeChunks;
    std::atomic<bool> failWrites{false};
    void Add(const std::string& call) {
        std::lock_guard<std::mutex> lock(mutex);
        calls.push_back(call);
    }
    std::vector<std::string> Calls() {
        std::lock_guard<std::mutex> lock(mutex);
        return calls;
    }
};

class ScriptedBackend : public CSerialBackend {
public:
    explicit ScriptedBackend(std::shared_ptr<ScriptLog> log) : log_(std::move(log)) {}
    SerialOpenStatus OpenDevice(const std::string& path) override {
        if (!Step("open " + path)) return SerialOpenStatus::Missing;
        open_ = true;
        return SerialOpenStatus::Ok;
    }
    int Purge() override { return open_ ? Step("purge") : 0; }
    int DrainOutput(uint32_t /*timeoutMs*/) override { return open_ ? 1 : 0; }
    int PurgeInput() override { return open_ ? Step("purge") : 0; }
    int SetHandshakeTimeouts() override { return Step("handshake"); }
    int SetTransferTimeouts() override {
        transfer_ = true;
        return Step("transfer");
    }
    int SetLine(const SerialLineSettings& s) override {
        return Step("line " + std::to_string(s.baud) + " " + std::to_string(s.byteSize) + std::to_string(s.parity) +
                    std::to_string(s.stopBits) + (s.dtr ? " dtr" : " -dtr") + (s.rts ? " rts" : " -rts"));
    }
    int Read(uint8_t* buffer, int capacity) override {
        if (!Step("read")) return 0;
        Bytes answer = DeviceInfoAnswer(1);
        if (!NextProbeChunk(answer)) answer = DeviceInfoAnswer(1);
        std::copy(answer.begin(), answer.begin() + std::min<int>(capacity, int(answer.size())), buffer);
        return static_cast<int>(answer.size());
    }
    int ReadAvailable(uint8_t* buffer, int capacity, uint32_t waitMs) override {
        if (!transfer_) {
            // The probe reading on: the rest of the scripted chunks, then silence.
            Bytes chunk;
            if (!NextProbeChunk(chunk)) return 0;
            std::copy(chunk.begin(), chunk.begin() + std::min<int>(capacity, int(chunk.size())), buffer);
            return std::min<int>(capacity, int(chunk.size()));
        }
        ++log_->readAvailableCalls;
        int result = 0;
        {
            std::lock_guard<std::mutex> lock(log_->mutex);
            if (!log_->readScript.empty()) {
                result = log_->readScript.front();
                log_->readScript.pop_front();
            } else {
                result = -2;  // script done: idle
            }
        }
        if (result == -2) {
            std::this_thread::sleep_for(std::chrono::milliseconds(waitMs));
            return 0;
        }
        for (int i = 0; i < std::min(result, capacity); ++i) buffer[i] = static_cast<uint8_t>(i);
        return result;
    }
    int Write(const uint8_t* data, uint32_t length) override {
        std::string hex = "write";
        for (uint32_t i = 0; i < length; ++i) hex += " " + std::to_string(data[i]);
        return Step(hex) && !log_->failWrites.load();
    }
    SerialLowLatency RequestLowLatency() override {
        return Step("low latency") ? SerialLowLatency::On : SerialLowLatency::Failed;
    }
    void CloseDevice() override {
        if (open_) log_->Add("close");
        open_ = false;
        transfer_ = false;
    }
    bool IsOpen() const override { return open_; }
    std::string LastErrorText() const override { return "scripted"; }

private:
    bool NextProbeChunk(Bytes& chunk) {
        std::lock_guard<std::mutex> lock(log_->mutex);
        if (log_->probeChunks.empty()) return false;
        chunk = log_->probeChunks.front();
        log_->probeChunks.pop_front();
        return true;
    }
    int Step(const std::string& call) {
        log_->Add(call);
        return call.rfind(log_->failAt, 0) == 0 && !log_->failAt.empty() ? 0 : 1;
    }
    std::shared_ptr<ScriptLog> log_;
    std::atomic<bool> open_{false};
    std::atomic<bool> transfer_{false};
};

TEST(SerialOpenStepsTest, StepsRunInOrderAndAFailureAtAnyStepClosesThePort) {
    const std::vector<std::string> fullOrder = {
        "open /fake/port", "purge", "handshake", "line 9600 800 dtr rts", "write 172 6 0 69 1 70", "read",
        "transfer", "line 256000 800 -dtr rts", "low latency", "hook restart", "hook info:1"};
    struct Case {
        std::string failAt;
        OpenError expected;
    };
    const Case cases[] = {
        {"", OpenError::None},
        {"open", OpenError::Missing},
        {"purge", OpenError::None},  // a refused purge does not stop the open
        {"handshake", OpenError::LineSettings},
        {"line 9600", OpenError::LineSettings},
        {"write", OpenError::NoAnswer},
        {"read", OpenError::NoAnswer},
        {"transfer", OpenError::LineSettings},
        {"line 256000", OpenError::LineSettings},
        {"low latency", OpenError::None},  // a driver that refuses it is only slower
    };
    SetPortList({"/fake/port"});
    for (const Case& c : cases) {
        SCOPED_TRACE("failing at '" + c.failAt + "'");
        auto log = std::make_shared<ScriptLog>();
        log->failAt = c.failAt;
        RecordingHook hook([&](const std::string& event) { log->Add("hook " + event); });
        CSerial serial(std::make_unique<ScriptedBackend>(log), nullptr, 10);
        serial.SetOpenHook(&hook);
        const int opened = serial.Open(1, 9600, 8, 0, 0);
        EXPECT_EQ(serial.LastOpenError(), c.expected);
        std::vector<std::string> calls = log->Calls();
        if (c.expected == OpenError::None) {
            EXPECT_NE(opened, 0);
            EXPECT_TRUE(serial.IsRunning());
            EXPECT_EQ(calls, fullOrder);
            continue;
        }
        EXPECT_EQ(opened, 0);
        EXPECT_FALSE(serial.IsOpen());
        EXPECT_FALSE(serial.IsRunning());
        // Every step up to the failing one, then (when something was opened) purge and close.
        const auto failing = std::find_if(fullOrder.begin(), fullOrder.end(),
                                          [&](const std::string& s) { return s.rfind(c.failAt, 0) == 0; });
        std::vector<std::string> expected(fullOrder.begin(), failing + 1);
        if (c.failAt != "open") expected.insert(expected.end(), {"purge", "close"});
        EXPECT_EQ(calls, expected);
    }
    SetPortList({});
}

TEST(SerialOpenStepsTest, ReaderSkipsEmptyReadsAndPausesAfterFailures) {
    auto log = std::make_shared<ScriptLog>();
    log->readScript = {3, 0, 0, 1024, -1, 5};
    for (int i = 0; i < 5000; ++i) log->readScript.push_back(-1);
    SetPortList({"/fake/port"});
    RecordingReceiver receiver;
    CSerial serial(std::make_unique<ScriptedBackend>(log), &receiver, 10);
    ASSERT_NE(serial.Open(1, 256000, 8, 0, 0), 0);
    ASSERT_TRUE(WaitUntil([&] { return receiver.Chunks().size() >= 3; }, 2000));
    const int callsBefore = log->readAvailableCalls.load();
    WaitUntil([] { return false; }, 200);
    // Failing reads are paused 10 ms each: about 20 in 200 ms, not thousands.
    EXPECT_LT(log->readAvailableCalls.load() - callsBefore, 40);
    serial.Close();
    std::vector<size_t> sizes;
    for (const Bytes& chunk : receiver.Chunks()) sizes.push_back(chunk.size());
    EXPECT_EQ(sizes, (std::vector<size_t>{3, 1024, 5}));
    SetPortList({});
}

TEST(SerialOpenStepsTest, ProbeFindsTheAnswerBehindLineNoise) {
    const Bytes answer = DeviceInfoAnswer(1);
    const Bytes noise = {0x55, 0xAC, 0x03, 0x00, 0x13};
    Bytes badSum = answer;
    badSum.back() ^= 0xFF;
    struct Case {
        const char* name;
        std::deque<Bytes> chunks;
        bool opens;
    };
    const Case cases[] = {
        {"answer alone", {answer}, true},
        {"noise and answer in one read", {Concat({noise, answer})}, true},
        {"noise, then silence for the rest of the wait", {noise, {}, answer}, false},
        {"noise, then the answer in two pieces", {noise, Bytes(answer.begin(), answer.begin() + 4),
                                                  Bytes(answer.begin() + 4, answer.end())}, true},
        {"stray byte, then the answer", {{0xFF}, answer}, true},
        {"noise only", {noise}, false},
        {"noise, then another frame", {noise, Frame(0x48, {0x47})}, false},
        {"noise, then the answer with a bad checksum", {noise, badSum}, false},
        {"F at byte 3 of four bytes only", {{0xAC, 0x04, 0x00, 0x46}}, false},
    };
    SetPortList({"/fake/port"});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto log = std::make_shared<ScriptLog>();
        log->probeChunks = c.chunks;
        CSerial serial(std::make_unique<ScriptedBackend>(log), nullptr, 10);
        EXPECT_EQ(serial.Open(1, 9600, 8, 0, 0) != 0, c.opens);
        EXPECT_EQ(serial.LastOpenError(), c.opens ? OpenError::None : OpenError::NoAnswer);
    }
    SetPortList({});
}

TEST(SerialLineErrorTest, AFailedReadOrWriteIsReportedOncePerOpen) {
    auto log = std::make_shared<ScriptLog>();
    log->readScript = {3, -1, -1, 5};
    SetPortList({"/fake/port"});
    RecordingReceiver receiver;
    CSerial serial(std::make_unique<ScriptedBackend>(log), &receiver, 10);
    ASSERT_NE(serial.Open(1, 256000, 8, 0, 0), 0);
    // The reader goes on after the report: bytes that still come are delivered.
    ASSERT_TRUE(WaitUntil([&] { return receiver.Chunks().size() >= 2; }, 2000));
    auto errors = receiver.LineErrors();
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].first, "scripted");
    EXPECT_NE(errors[0].second, std::this_thread::get_id());
    EXPECT_TRUE(serial.LineFailed());
    log->failWrites = true;
    const uint8_t byte = 0x55;
    EXPECT_EQ(serial.Write(&byte, 1), 0);
    EXPECT_EQ(receiver.LineErrors().size(), 1u) << "one report per open";

    // A new open is a new line: its first failed write is told, on the writing thread.
    log->failWrites = false;
    ASSERT_NE(serial.Open(1, 256000, 8, 0, 0), 0);
    EXPECT_FALSE(serial.LineFailed());
    log->failWrites = true;
    EXPECT_EQ(serial.Write(&byte, 1), 0);
    EXPECT_EQ(serial.Write(&byte, 1), 0);
    errors = receiver.LineErrors();
    ASSERT_EQ(errors.size(), 2u);
    EXPECT_EQ(errors[1].second, std::this_thread::get_id());

    // Closing is no loss, and neither is a write to a closed port.
    log->failWrites = false;
    ASSERT_NE(serial.Open(1, 256000, 8, 0, 0), 0);
    serial.Close();
    EXPECT_EQ(serial.Write(&byte, 1), 0);
    EXPECT_EQ(receiver.LineErrors().size(), 2u);
    SetPortList({});
}

TEST(PortListTest, ColonListParsing) {
    const std::pair<const char*, std::vector<std::string>> cases[] = {
        {"", {}},
        {"/dev/ttyUSB0", {"/dev/ttyUSB0"}},
        {"/dev/a:/dev/b", {"/dev/a", "/dev/b"}},
        {"::/dev/a:::/dev/b:", {"/dev/a", "/dev/b"}},
        {"/tmp/my port:/dev/b", {"/tmp/my port", "/dev/b"}},
    };
    for (const auto& [text, expected] : cases) EXPECT_EQ(SplitPortListText(text), expected) << text;
}

TEST(PortListTest, NaturalOrderOfNames) {
    std::vector<std::string> names = {"ttyS10", "ttyS2", "ttyS1", "ttyS02", "ttyS", "ttyS100", "ttyS9a", "ttyS9"};
    std::sort(names.begin(), names.end(), NaturalLess);
    EXPECT_EQ(names, (std::vector<std::string>{"ttyS", "ttyS1", "ttyS2", "ttyS02", "ttyS9", "ttyS9a", "ttyS10",
                                               "ttyS100"}));
    EXPECT_FALSE(NaturalLess("ttyS2", "ttyS2"));
    EXPECT_TRUE(NaturalLess("ttyS99999999999999999999", "ttyS100000000000000000000"));
}

TEST(PortListTest, DeviceScanGroupsByKindThenNaturalOrder) {
    testsupport::TempDir dev;
    for (const char* name : {"ttyS10", "ttyS2", "ttyS0", "ttyUSB1", "ttyUSB0", "ttyACM3", "ttyUSB", "tty0", "console",
                             "ttyACM10"})
        testsupport::WriteFile(dev.File(name), {});
    const std::string d = dev.Path() + "/";
    EXPECT_EQ(ScanSerialDevices(dev.Path(), {"ttyUSB", "ttyACM", "ttyS"}),
              (std::vector<std::string>{d + "ttyUSB0", d + "ttyUSB1", d + "ttyACM3", d + "ttyACM10", d + "ttyS0",
                                        d + "ttyS2", d + "ttyS10"}));
    EXPECT_TRUE(ScanSerialDevices(dev.File("absent"), {"ttyS"}).empty());
}

TEST(PortListTest, UserListThenEnvironmentThenSystem) {
    unsetenv("IAP_PORTS");
    SetPortList({"/dev/a", "/dev/b"});
    setenv("IAP_PORTS", "/dev/x:/dev/y:/dev/z", 1);
    EXPECT_EQ(GetPortList(), (std::vector<std::string>{"/dev/a", "/dev/b"}));
    EXPECT_EQ(PortPath(2), "/dev/b");
    EXPECT_EQ(PortPath(3), "");
    EXPECT_EQ(PortPath(0), "");
    SetPortList({});
    EXPECT_EQ(PortPath(3), "/dev/z");
    EXPECT_EQ(PortPath(4), "");
    unsetenv("IAP_PORTS");
    const std::vector<std::string> system = GetPortList();
    for (size_t i = 0; i < system.size(); ++i) {
        EXPECT_EQ(system[i].rfind("/dev/tty", 0), 0u) << system[i];
        EXPECT_EQ(PortPath(static_cast<unsigned>(i + 1)), system[i]);
    }
    EXPECT_EQ(PortPath(static_cast<unsigned>(system.size() + 1)), "");
}

}  // namespace
