// The serial port over a scripted back end (the order of the open steps, the probe, the reader loop,
// line errors) and the port-list rules: no device involved, so these run on every platform. The
// pseudo-terminal runs are in Serial_posix_test.cpp.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "SerialTestParts.h"
#include "support/TestSupport.h"
#include "transport/PortList.h"
#include "transport/PortListScan.h"
#include "transport/Serial.h"
#include "transport/SerialBackend.h"

namespace {

using namespace serialtest;
using OpenError = CSerial::OpenError;
using testsupport::ScaledMs;
using testsupport::WaitUntil;

// A back end that answers from a script and logs every call, to check the order of the open steps
// and what a failure at each step leaves behind.
struct ScriptLog {
    std::mutex mutex;
    std::vector<std::string> calls;
    std::string failAt;          // the call that fails
    std::deque<int> readScript;  // ReadAvailable results: n > 0 delivers n bytes, else returned as is
    bool failWhenDone = false;   // after the script: every read fails (else the line is idle)
    std::atomic<int> readAvailableCalls{0};
    // What the handshake reads get, chunk by chunk (an empty chunk: nothing within the wait); when
    // empty, the probe read gets a valid answer at once.
    std::deque<Bytes> probeChunks;
    std::atomic<bool> failWrites{false};
    std::thread::id endReadingThread;  // guarded by mutex
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
                result = log_->failWhenDone ? -1 : -2;  // script done: failing, or idle
            }
        }
        if (result == -2) {
            std::this_thread::sleep_for(std::chrono::milliseconds(waitMs));
            return 0;
        }
        for (int i = 0; i < std::min(result, capacity); ++i) buffer[i] = static_cast<uint8_t>(i);
        return result;
    }
    SerialWriteResult Write(const uint8_t* data, uint32_t length) override {
        std::string hex = "write";
        for (uint32_t i = 0; i < length; ++i) hex += " " + std::to_string(data[i]);
        SerialWriteResult result;
        if (Step(hex) && !log_->failWrites.load()) {
            result.status = SerialWriteResult::Status::Done;
            result.written = length;
        }
        return result;
    }
    SerialLowLatency RequestLowLatency() override {
        return Step("low latency") ? SerialLowLatency::On : SerialLowLatency::Failed;
    }
    void EndReading() override {
        log_->Add("end reading");
        std::lock_guard<std::mutex> lock(log_->mutex);
        log_->endReadingThread = std::this_thread::get_id();
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
        serial.SetProbe(&kDeviceProbe);
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
    // A port given no handshake opens nothing: it could not tell the device from any other port.
    auto log = std::make_shared<ScriptLog>();
    CSerial unprobed(std::make_unique<ScriptedBackend>(log), nullptr, 10);
    EXPECT_EQ(unprobed.Open(1, 9600, 8, 0, 0), 0);
    EXPECT_EQ(unprobed.LastOpenError(), OpenError::Other);
    EXPECT_TRUE(log->Calls().empty());
    SetPortList({});
}

TEST(SerialOpenStepsTest, ReaderSkipsEmptyReadsAndPausesAfterFailures) {
    auto log = std::make_shared<ScriptLog>();
    log->readScript = {3, 0, 0, 1024, -1, 5};
    log->failWhenDone = true;
    SetPortList({"/fake/port"});
    RecordingReceiver receiver;
    CSerial serial(std::make_unique<ScriptedBackend>(log), &receiver, 10);
    serial.SetProbe(&kDeviceProbe);
    ASSERT_NE(serial.Open(1, 256000, 8, 0, 0), 0);
    ASSERT_TRUE(WaitUntil([&] { return receiver.Chunks().size() >= 3; }, ScaledMs(5000)));
    // Failing reads are paused 10 ms each, so 21 of them take at least 200 ms; without the pause
    // they would take microseconds. A slow machine only makes them take longer.
    const int callsBefore = log->readAvailableCalls.load();
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(WaitUntil([&] { return log->readAvailableCalls.load() - callsBefore >= 21; }, ScaledMs(10000)));
    const auto tookMs =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
    EXPECT_GE(tookMs, 150) << "21 failing reads in " << tookMs << " ms";
    serial.Close();
    // The reader ended what it left pending, on its own thread, before the device was closed.
    const std::vector<std::string> calls = log->Calls();
    ASSERT_GE(calls.size(), 2u);
    EXPECT_EQ(std::vector<std::string>(calls.end() - 2, calls.end()), (std::vector<std::string>{"end reading", "close"}));
    {
        std::lock_guard<std::mutex> lock(log->mutex);
        EXPECT_EQ(log->endReadingThread, receiver.Threads().front());
    }
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
        serial.SetProbe(&kDeviceProbe);
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
    serial.SetProbe(&kDeviceProbe);
    ASSERT_NE(serial.Open(1, 256000, 8, 0, 0), 0);
    // The reader goes on after the report: bytes that still come are delivered.
    ASSERT_TRUE(WaitUntil([&] { return receiver.Chunks().size() >= 2; }, ScaledMs(5000)));
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

// An empty value removes the variable.
void SetEnvironment(const char* name, const char* value) {
#if defined(_WIN32)
    _putenv_s(name, value);
#else
    if (*value != '\0')
        setenv(name, value, 1);
    else
        unsetenv(name);
#endif
}

TEST(PortListTest, UserListThenEnvironmentThenSystem) {
    SetEnvironment("IAP_PORTS", "");
    SetPortList({"/dev/a", "/dev/b"});
    SetEnvironment("IAP_PORTS", "/dev/x:/dev/y:/dev/z");
    EXPECT_EQ(GetPortList(), (std::vector<std::string>{"/dev/a", "/dev/b"}));
    EXPECT_EQ(PortPath(2), "/dev/b");
    EXPECT_EQ(PortPath(3), "");
    EXPECT_EQ(PortPath(0), "");
    SetPortList({});
    EXPECT_EQ(PortPath(3), "/dev/z");
    EXPECT_EQ(PortPath(4), "");
    // Without either, the system's list: only its names are read here, no port is opened.
    SetEnvironment("IAP_PORTS", "");
    const std::vector<std::string> system = GetPortList();
    EXPECT_EQ(system, SystemPortList());
    for (size_t i = 0; i < system.size(); ++i) EXPECT_EQ(PortPath(SystemPortNumber(system, i)), system[i]);
}

}  // namespace
