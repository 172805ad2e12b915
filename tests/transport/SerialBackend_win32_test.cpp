// The Win32 serial back end against drivers that wine's pseudo-terminals do not play: played here
// through the comm table (CommApi_win32.h), as the documentation says a driver behaves. Operations
// complete as a driver completes them: status and count in the OVERLAPPED, then its event set.
#include <gtest/gtest.h>

#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "base/Trace.h"
#include "transport/CommApi_win32.h"
#include "transport/SerialBackend.h"

namespace {

constexpr ULONG_PTR kPending = 0x103;  // STATUS_PENDING, what the kernel keeps in Internal meanwhile
const HANDLE kDevice = reinterpret_cast<HANDLE>(static_cast<intptr_t>(0x5150));

enum class WaitMode { Pending, AtOnce, Fails };

// The driver one test plays. Calls come from the back end on the test's threads.
struct Driver {
    std::mutex mutex;
    DCB state{};                    // what GetCommState reports
    std::vector<DCB> statesSet;     // what SetCommState was given
    DWORD inputQueue = 4096;        // GetCommProperties' dwCurrentRxQueue (0: not reported)
    WaitMode waitMode = WaitMode::Pending;
    DWORD waitError = 0;            // WaitMode::Fails
    bool maskEndsWait = true;       // SetCommMask ends a pending wait (as documented)
    bool cancelEndsWait = true;
    int waitCalls = 0;
    std::vector<OVERLAPPED*> waits;  // every WaitCommEvent's OVERLAPPED
    OVERLAPPED* pendingWait = nullptr;
    bool writesComplete = true;
    OVERLAPPED* pendingWrite = nullptr;
    std::vector<OVERLAPPED*> cancelled;
    struct MaskCall {
        DWORD mask;
        std::thread::id thread;
    };
    std::vector<MaskCall> masks;
    DWORD lineErrors = 0;  // reported, and cleared, by the next ClearCommError
    std::deque<uint8_t> input;
};
Driver* g_driver = nullptr;

void Complete(OVERLAPPED* overlapped, DWORD error, DWORD bytes) {
    overlapped->Internal = error;
    overlapped->InternalHigh = bytes;
    SetEvent(overlapped->hEvent);
}

BOOL Fail(DWORD error) {
    SetLastError(error);
    return FALSE;
}

HANDLE WINAPI FakeCreateFile(LPCWSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE) { return kDevice; }
BOOL WINAPI FakeTrue(HANDLE) { return TRUE; }
BOOL WINAPI FakeSetCommMask(HANDLE, DWORD mask) {
    std::lock_guard<std::mutex> lock(g_driver->mutex);
    g_driver->masks.push_back({mask, std::this_thread::get_id()});
    if (g_driver->pendingWait != nullptr && g_driver->maskEndsWait) {
        Complete(g_driver->pendingWait, 0, 0);
        g_driver->pendingWait = nullptr;
    }
    return TRUE;
}
BOOL WINAPI FakeGetCommState(HANDLE, LPDCB dcb) {
    std::lock_guard<std::mutex> lock(g_driver->mutex);
    *dcb = g_driver->state;
    dcb->DCBlength = sizeof(DCB);
    return TRUE;
}
BOOL WINAPI FakeSetCommState(HANDLE, LPDCB dcb) {
    std::lock_guard<std::mutex> lock(g_driver->mutex);
    g_driver->statesSet.push_back(*dcb);
    // As documented, and as the system's serial driver checks its limits against its input queue.
    if (dcb->XonChar == dcb->XoffChar) return Fail(ERROR_INVALID_PARAMETER);
    const DWORD queue = g_driver->inputQueue;
    if (queue != 0 && (dcb->XonLim > queue || dcb->XoffLim > queue)) return Fail(ERROR_INVALID_PARAMETER);
    return TRUE;
}
BOOL WINAPI FakeGetCommProperties(HANDLE, LPCOMMPROP properties) {
    std::lock_guard<std::mutex> lock(g_driver->mutex);
    properties->dwCurrentRxQueue = g_driver->inputQueue;
    return TRUE;
}
BOOL WINAPI FakeSetCommTimeouts(HANDLE, LPCOMMTIMEOUTS) { return TRUE; }
BOOL WINAPI FakePurgeComm(HANDLE, DWORD) { return TRUE; }
BOOL WINAPI FakeClearCommError(HANDLE, LPDWORD errors, LPCOMSTAT status) {
    std::lock_guard<std::mutex> lock(g_driver->mutex);
    *errors = g_driver->lineErrors;
    g_driver->lineErrors = 0;
    *status = COMSTAT{};
    status->cbInQue = static_cast<DWORD>(g_driver->input.size());
    return TRUE;
}
BOOL WINAPI FakeReadFile(HANDLE, LPVOID buffer, DWORD count, LPDWORD, LPOVERLAPPED overlapped) {
    std::lock_guard<std::mutex> lock(g_driver->mutex);
    DWORD got = 0;
    for (; got < count && !g_driver->input.empty(); ++got) {
        static_cast<uint8_t*>(buffer)[got] = g_driver->input.front();
        g_driver->input.pop_front();
    }
    Complete(overlapped, 0, got);
    return TRUE;
}
BOOL WINAPI FakeWriteFile(HANDLE, LPCVOID, DWORD count, LPDWORD, LPOVERLAPPED overlapped) {
    std::lock_guard<std::mutex> lock(g_driver->mutex);
    if (g_driver->writesComplete) {
        Complete(overlapped, 0, count);
        return TRUE;
    }
    overlapped->Internal = kPending;
    g_driver->pendingWrite = overlapped;
    return Fail(ERROR_IO_PENDING);
}
BOOL WINAPI FakeWaitCommEvent(HANDLE, LPDWORD events, LPOVERLAPPED overlapped) {
    std::lock_guard<std::mutex> lock(g_driver->mutex);
    ++g_driver->waitCalls;
    g_driver->waits.push_back(overlapped);
    switch (g_driver->waitMode) {
        case WaitMode::AtOnce:
            *events = EV_RXCHAR;
            Complete(overlapped, 0, 0);
            return TRUE;
        case WaitMode::Fails: return Fail(g_driver->waitError);
        case WaitMode::Pending: break;
    }
    overlapped->Internal = kPending;
    g_driver->pendingWait = overlapped;
    return Fail(ERROR_IO_PENDING);
}
BOOL WINAPI FakeGetOverlappedResult(HANDLE, LPOVERLAPPED overlapped, LPDWORD moved, BOOL wait) {
    if (wait) WaitForSingleObject(overlapped->hEvent, INFINITE);
    if (overlapped->Internal == kPending) return Fail(ERROR_IO_INCOMPLETE);
    *moved = static_cast<DWORD>(overlapped->InternalHigh);
    return overlapped->Internal == 0 ? TRUE : Fail(static_cast<DWORD>(overlapped->Internal));
}
BOOL WINAPI FakeCancelIoEx(HANDLE, LPOVERLAPPED overlapped) {
    std::lock_guard<std::mutex> lock(g_driver->mutex);
    g_driver->cancelled.push_back(overlapped);
    if (overlapped == g_driver->pendingWrite) {
        Complete(overlapped, ERROR_OPERATION_ABORTED, 0);
        g_driver->pendingWrite = nullptr;
    }
    if (overlapped == g_driver->pendingWait && g_driver->cancelEndsWait) {
        Complete(overlapped, ERROR_OPERATION_ABORTED, 0);
        g_driver->pendingWait = nullptr;
    }
    return TRUE;
}

const SerialCommApi kFakeApi = {FakeCreateFile,      FakeTrue,           FakeSetCommMask,    FakeGetCommState,
                                FakeSetCommState,    FakeGetCommProperties, FakeSetCommTimeouts, FakePurgeComm,
                                FakeClearCommError,  FakeReadFile,       FakeWriteFile,      FakeWaitCommEvent,
                                FakeGetOverlappedResult, FakeCancelIoEx};

constexpr SerialLineSettings kTransferLine{.baud = 256000, .byteSize = 8, .parity = 0, .stopBits = 0};
constexpr DWORD kReaderMask = EV_RXCHAR | EV_ERR;

class Win32CommBackendTest : public ::testing::Test {
protected:
    void SetUp() override {
        g_driver = &driver;
        SetTraceSink([this](const std::wstring& text) {
            std::lock_guard<std::mutex> lock(traceMutex);
            trace += text;
        });
    }
    void TearDown() override {
        SetTraceSink({});
        g_driver = nullptr;
    }
    // A back end opened and switched to the transfer line, as CSerial::Open leaves it.
    std::unique_ptr<CSerialBackend> OpenForTransfer() {
        auto backend = CreateSerialBackendOver(kFakeApi);
        EXPECT_EQ(backend->OpenDevice("COM3"), SerialOpenStatus::Ok);
        EXPECT_EQ(backend->SetTransferTimeouts(), 1);
        EXPECT_EQ(backend->SetLine(kTransferLine), 1);
        return backend;
    }
    std::wstring Trace() {
        std::lock_guard<std::mutex> lock(traceMutex);
        return trace;
    }
    Driver driver;
    std::mutex traceMutex;
    std::wstring trace;
};

TEST_F(Win32CommBackendTest, TheLineGetsXonXoffCharactersAndLimitsOfItsOwn) {
    struct Case {
        const char* driver;
        char xon, xoff;
        WORD xonLim, xoffLim;
        DWORD inputQueue;
        WORD expectedLimit;
    };
    const Case cases[] = {
        {"reports 0/0 and no limits", 0, 0, 0, 0, 4096, 1024},
        {"reports XON for both", 0x11, 0x11, 2048, 512, 1024, 256},
        {"limits beyond its queue", 0x11, 0x13, 8000, 8000, 4096, 1024},
        {"does not report its queue", 0, 0, 0, 0, 0, 1024},
        {"has a huge queue", 0x13, 0x11, 0, 0, 1u << 20, 0xFFFF},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.driver);
        driver.state = DCB{};
        driver.state.XonChar = c.xon;
        driver.state.XoffChar = c.xoff;
        driver.state.XonLim = c.xonLim;
        driver.state.XoffLim = c.xoffLim;
        driver.state.fOutX = driver.state.fInX = TRUE;
        driver.inputQueue = c.inputQueue;
        driver.statesSet.clear();
        auto backend = CreateSerialBackendOver(kFakeApi);
        ASSERT_EQ(backend->OpenDevice("COM3"), SerialOpenStatus::Ok);
        EXPECT_EQ(backend->SetLine(kTransferLine), 1) << backend->LastErrorText();
        ASSERT_EQ(driver.statesSet.size(), 1u);
        const DCB& set = driver.statesSet.front();
        EXPECT_EQ(set.XonChar, 0x11);
        EXPECT_EQ(set.XoffChar, 0x13);
        EXPECT_EQ(set.XonLim, c.expectedLimit);
        EXPECT_EQ(set.XoffLim, c.expectedLimit);
        EXPECT_FALSE(set.fOutX);
        EXPECT_FALSE(set.fInX);
        EXPECT_EQ(set.BaudRate, 256000u);
    }
}

TEST_F(Win32CommBackendTest, AWriteThatNeverCompletesEndsAtItsBoundAsStalled) {
    auto backend = OpenForTransfer();
    driver.writesComplete = false;
    const std::vector<uint8_t> frame(200, 0x5A);
    const SerialWriteResult result = backend->Write(frame.data(), static_cast<uint32_t>(frame.size()));
    EXPECT_EQ(result.status, SerialWriteResult::Status::Stalled);
    EXPECT_EQ(result.written, 0u);
    EXPECT_EQ(result.limitMs, SerialWriteLimitMs(256000, 10, 200));
    EXPECT_NE(backend->LastErrorText().find("(1460)"), std::string::npos) << backend->LastErrorText();
    // Cancelled, and waited for until the cancellation reported back.
    std::lock_guard<std::mutex> lock(driver.mutex);
    EXPECT_EQ(driver.cancelled.size(), 1u);
    EXPECT_EQ(driver.pendingWrite, nullptr);
}

TEST_F(Win32CommBackendTest, AWaitThatCompletesAtOnceWithNothingQueuedDoesNotSpin) {
    auto backend = OpenForTransfer();
    driver.waitMode = WaitMode::AtOnce;
    uint8_t buffer[64];
    // One slice: the wait armed and seen to end twice with nothing to read (once may be a byte
    // read before), armed once more, then the slice sat out.
    EXPECT_EQ(backend->ReadAvailable(buffer, sizeof buffer, 200), 0);
    EXPECT_LE(driver.waitCalls, 3);
    // Data still comes through such a driver.
    driver.input = {1, 2, 3};
    EXPECT_EQ(backend->ReadAvailable(buffer, sizeof buffer, 200), 3);
}

TEST_F(Win32CommBackendTest, LineErrorsTheDriverReportsAreTraced) {
    auto backend = OpenForTransfer();
    driver.waitMode = WaitMode::AtOnce;
    driver.lineErrors = CE_FRAME | CE_OVERRUN | CE_RXOVER;
    uint8_t buffer[64];
    EXPECT_EQ(backend->ReadAvailable(buffer, sizeof buffer, 10), 0);
    const std::wstring text = Trace();
    EXPECT_NE(text.find(L"line errors: framing overrun (UART) input queue overflow (0xb)"), std::wstring::npos) << text;
}

TEST_F(Win32CommBackendTest, ADeviceNotConnectedIsALostLine) {
    auto backend = CreateSerialBackendOver(kFakeApi);
    ASSERT_EQ(backend->OpenDevice("COM3"), SerialOpenStatus::Ok);
    // In the handshake regime a wait that fails for another reason is only paused over.
    driver.waitMode = WaitMode::Fails;
    driver.waitError = ERROR_DEVICE_NOT_CONNECTED;
    uint8_t buffer[64];
    EXPECT_EQ(backend->ReadAvailable(buffer, sizeof buffer, 10), -1);
    EXPECT_NE(backend->LastErrorText().find("(1167)"), std::string::npos) << backend->LastErrorText();
}

TEST_F(Win32CommBackendTest, TheReaderEndsItsWaitOnItsOwnThread) {
    auto backend = OpenForTransfer();
    std::thread::id readerThread;
    std::thread reader([&] {
        readerThread = std::this_thread::get_id();
        uint8_t buffer[64];
        EXPECT_EQ(backend->ReadAvailable(buffer, sizeof buffer, 10), 0);
        backend->EndReading();
    });
    reader.join();
    std::vector<Driver::MaskCall> masks;
    {
        std::lock_guard<std::mutex> lock(driver.mutex);
        EXPECT_EQ(driver.pendingWait, nullptr);  // the wait left armed by the pass has ended
        masks = driver.masks;
    }
    ASSERT_GE(masks.size(), 2u);
    EXPECT_EQ(masks[masks.size() - 2].mask, 0u);
    EXPECT_EQ(masks[masks.size() - 2].thread, readerThread);
    EXPECT_EQ(masks.back().mask, kReaderMask);
    // Nothing is left for the close to end.
    backend->CloseDevice();
    std::lock_guard<std::mutex> lock(driver.mutex);
    EXPECT_EQ(driver.masks.size(), masks.size());
    EXPECT_TRUE(driver.cancelled.empty());
}

TEST_F(Win32CommBackendTest, AWaitThatNothingEndsIsAbandonedNeverReusedOrFreed) {
    auto backend = OpenForTransfer();
    driver.maskEndsWait = false;
    driver.cancelEndsWait = false;
    uint8_t buffer[64];
    EXPECT_EQ(backend->ReadAvailable(buffer, sizeof buffer, 10), 0);
    OVERLAPPED* stuck = nullptr;
    {
        std::lock_guard<std::mutex> lock(driver.mutex);
        ASSERT_NE(driver.pendingWait, nullptr);
        stuck = driver.pendingWait;
    }
    const HANDLE stuckEvent = stuck->hEvent;
    backend->EndReading();
    {
        std::lock_guard<std::mutex> lock(driver.mutex);
        EXPECT_EQ(driver.cancelled, std::vector<OVERLAPPED*>{stuck});
    }
    EXPECT_NE(Trace().find(L"left to it"), std::wstring::npos);

    // The next pass arms a wait of its own; this driver ends that one as documented.
    driver.maskEndsWait = true;
    EXPECT_EQ(backend->ReadAvailable(buffer, sizeof buffer, 10), 0);
    {
        std::lock_guard<std::mutex> lock(driver.mutex);
        ASSERT_EQ(driver.waits.size(), 2u);
        EXPECT_NE(driver.waits[1], stuck);
        EXPECT_NE(driver.waits[1]->hEvent, stuckEvent);
    }
    backend->CloseDevice();
    backend.reset();
    // The driver may still complete the abandoned wait: its OVERLAPPED and event are still its own.
    EXPECT_EQ(stuck->hEvent, stuckEvent);
    EXPECT_EQ(stuck->Internal, kPending);
    EXPECT_EQ(WaitForSingleObject(stuckEvent, 0), static_cast<DWORD>(WAIT_TIMEOUT));
    Complete(stuck, 0, 0);
    EXPECT_EQ(WaitForSingleObject(stuckEvent, 0), WAIT_OBJECT_0);
}

}  // namespace
