// The Win32 back end of CSerial over the comm API.
//
// The handle is opened with FILE_FLAG_OVERLAPPED. Windows serializes I/O on a synchronous handle:
// while one thread waits in ReadFile or WaitCommEvent, another thread's WriteFile on the same handle
// waits too. A reader that blocks would hold every frame of the sender back until its wait ends, and
// one that polls with "return at once" reads and a pause caps a stop-and-wait line at about a hundred
// frames a second. With an overlapped handle both directions run at once, as in QtSerialPort's
// Windows back end: the reader waits on WaitCommEvent(EV_RXCHAR | EV_ERR) and the close event
// together, then reads what has arrived; the writer waits for its own write to complete.
//
// Wine does not serialize synchronous handles, so a design that only passes under wine could still
// stall on Windows; and it has three traps of its own, all handled here:
//  - an overlapped ReadFile under "return at once" time-outs pends when nothing is queued (Windows
//    returns at once), so the reader reads exactly what ClearCommError reports as queued;
//  - a pending WaitCommEvent does not end on CancelIo, but does end on SetCommMask(h, 0);
//  - over a pseudo-terminal whose far end hung up, ClearCommError and WaitCommEvent carry on as
//    if the line were only quiet; only a read fails. So a quiet line gets a one-byte read now and
//    then (it returns at once on Windows; on wine it pends and is cancelled). Without it a lost
//    line would surface only at the next write, after the engine's no-answer wait.
//
// Threads: as CSerialBackend says. Each direction has its own OVERLAPPED and event (the reader's
// read and wait, the writer's write); the close event wakes every wait when the device closes. A
// WaitCommEvent left pending by the reader belongs to this object, not to one call: the next
// ReadAvailable waits on it again, so no byte is lost between two passes of the reader. The
// reader ends it before its thread exits (EndReading).
//
// Every call on the device handle goes through a SerialCommApi table (CommApi_win32.h): the
// system's, or a test's.
#include "transport/SerialBackend.h"

#include "transport/CommApi_win32.h"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <shared_mutex>
#include <string>

#include "base/OsErrorText.h"
#include "base/Text.h"
#include "base/Trace.h"

namespace {

// EV_RXCHAR | EV_TXEMPTY | EV_ERR: the mask the device's own tool sets at open and with every line
// change while the handshake runs.
constexpr DWORD kHandshakeMask = EV_RXCHAR | EV_TXEMPTY | EV_ERR;
// Nothing waits for EV_TXEMPTY once the reader runs; left in the mask it would wake the reader after
// every frame the sender writes.
constexpr DWORD kReaderMask = EV_RXCHAR | EV_ERR;
constexpr DWORD kPurgeAll = PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR;
// Handshake regime: a read of n bytes waits 1 + n ms, 1 ms between bytes; a write of n bytes may
// take 500 + 100 * n ms.
constexpr COMMTIMEOUTS kHandshakeTimeouts = {1, 1, 1, 100, 500};
// Transfer regime: a read returns at once with what is queued; the driver puts no time-out on
// writes, Write bounds each one itself (SerialWriteLimitMs).
constexpr COMMTIMEOUTS kTransferTimeouts = {MAXDWORD, 0, 0, 0, 0};
// The driver enforces the handshake time-outs; these margins only keep a driver that ignores them
// (or a wine build that does) from holding a caller for ever.
constexpr DWORD kDriverMarginMs = 1000;
// Reading bytes that ClearCommError reported as queued completes at once; this bounds a driver that
// pends anyway.
constexpr DWORD kQueuedReadLimitMs = 1000;
// How long ending an event wait waits for it to report back, after the mask is cleared and again
// after it is cancelled.
constexpr DWORD kCancelWaitMs = 1000;
// A quiet line in the transfer regime is read once this often, to see whether it has gone (below).
constexpr ULONGLONG kQuietLineCheckMs = 250;
// DrainOutput looks at the output queue this often.
constexpr DWORD kDrainPollMs = 1;
// The XON/XOFF characters, set even with that flow control off: SetCommState refuses a DCB whose
// XonChar equals XoffChar, and some drivers report 0 for both.
constexpr char kXonChar = 0x11;
constexpr char kXoffChar = 0x13;
// The input queue size assumed when the driver does not report its own (GetCommProperties).
constexpr DWORD kAssumedInputQueue = 4096;

thread_local DWORD t_lastError = 0;

void Remember(DWORD error) { t_lastError = error; }
void RememberLastError() { Remember(GetLastError()); }

// The system's wording of a Win32 error, in the user's language, as one line of UTF-8 with the code.
std::string ErrorText(DWORD error) {
    wchar_t* message = nullptr;
    const DWORD length =
        FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, error, 0, reinterpret_cast<wchar_t*>(&message), 0, nullptr);
    std::string text = length > 0 ? WideToUtf8(std::wstring(message, length)) : std::string();
    if (message != nullptr) LocalFree(message);
    // System messages end in ".\r\n"; the trace adds its own punctuation.
    while (!text.empty() && (text.back() == '\r' || text.back() == '\n' || text.back() == ' ' || text.back() == '.'))
        text.pop_back();
    return (text.empty() ? std::string("error") : text) + " (" + std::to_string(error) + ")";
}

SerialOpenStatus StatusOfOpenError(DWORD error) {
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_NAME:
        case ERROR_BAD_UNIT:
        case ERROR_DEV_NOT_EXIST:
        case ERROR_DEVICE_REMOVED: return SerialOpenStatus::Missing;
        // Windows has no access rights on COM ports for a user to lack: a port that refuses the
        // open with "access denied" is held by another program (the comm driver is exclusive).
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
        case ERROR_BUSY: return SerialOpenStatus::Busy;
        default: return SerialOpenStatus::Other;
    }
}

// The errors with which the comm driver fails every call once the device has gone (a USB adapter
// pulled out, a port closed behind our back).
bool IsLineGone(DWORD error) {
    switch (error) {
        case ERROR_ACCESS_DENIED:
        case ERROR_OPERATION_ABORTED:
        case ERROR_BAD_COMMAND:
        case ERROR_DEVICE_REMOVED:
        case ERROR_DEV_NOT_EXIST:
        case ERROR_GEN_FAILURE:
        case ERROR_INVALID_HANDLE:
        case ERROR_DEVICE_NOT_CONNECTED:  // what a USB adapter's driver reports once it is pulled out
        case ERROR_BROKEN_PIPE: return true;
        default: return false;
    }
}

// A manual-reset event for one OVERLAPPED, owned for the life of the back end.
class CIoEvent {
public:
    CIoEvent() : handle_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
    ~CIoEvent() {
        if (handle_ != nullptr) CloseHandle(handle_);
    }
    CIoEvent(const CIoEvent&) = delete;
    CIoEvent& operator=(const CIoEvent&) = delete;
    HANDLE Get() const { return handle_; }
    // A fresh OVERLAPPED on this event, the event reset.
    OVERLAPPED Arm() const {
        ResetEvent(handle_);
        OVERLAPPED overlapped{};
        overlapped.hEvent = handle_;
        return overlapped;
    }

private:
    HANDLE handle_;
};

// The reader's WaitCommEvent. On the heap: a wait that neither a cleared mask nor a cancellation
// ends still belongs to the driver, which may write into its OVERLAPPED and set its event at any
// later time, so such a wait is abandoned together with both, never freed or re-armed.
struct CCommWait {
    CCommWait() : event(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
    ~CCommWait() {
        if (event != nullptr) CloseHandle(event);
    }
    CCommWait(const CCommWait&) = delete;
    CCommWait& operator=(const CCommWait&) = delete;
    OVERLAPPED overlapped{};
    HANDLE event;
    DWORD events = 0;
};

// Names of the line errors ClearCommError reports, for the trace.
std::wstring LineErrorWords(DWORD errors) {
    static constexpr struct {
        DWORD flag;
        const wchar_t* word;
    } kWords[] = {{CE_FRAME, L" framing"},       {CE_OVERRUN, L" overrun (UART)"}, {CE_RXOVER, L" input queue overflow"},
                  {CE_RXPARITY, L" parity"}, {CE_BREAK, L" break"}};
    std::wstring words;
    for (const auto& entry : kWords)
        if ((errors & entry.flag) != 0) words += entry.word;
    return words.empty() ? std::wstring(L" other") : words;
}

class CSerialBackend_Win32 final : public CSerialBackend {
public:
    explicit CSerialBackend_Win32(const SerialCommApi& api) : api_(api) {}
    ~CSerialBackend_Win32() override { CloseDevice(); }
    CSerialBackend_Win32(const CSerialBackend_Win32&) = delete;
    CSerialBackend_Win32& operator=(const CSerialBackend_Win32&) = delete;

    SerialOpenStatus OpenDevice(const std::string& path) override;
    int Purge() override { return PurgeQueues(kPurgeAll); }
    // Also aborts a read in progress: on wine a read of bytes purged under it would pend.
    int PurgeInput() override { return PurgeQueues(PURGE_RXABORT | PURGE_RXCLEAR); }
    int DrainOutput(uint32_t timeoutMs) override;
    int SetHandshakeTimeouts() override;
    int SetTransferTimeouts() override;
    int SetLine(const SerialLineSettings& settings) override;
    int Read(uint8_t* buffer, int capacity) override;
    int ReadAvailable(uint8_t* buffer, int capacity, uint32_t waitMs) override;
    SerialWriteResult Write(const uint8_t* data, uint32_t length) override;
    void CloseDevice() override;
    void EndReading() override;
    bool IsOpen() const override { return handle_.load() != INVALID_HANDLE_VALUE; }
    std::string LastErrorText() const override { return t_lastError == 0 ? std::string() : ErrorText(t_lastError); }
    std::string LastErrorTextForUser() const override {
        if (t_lastError == 0) return std::string();
        return WideToUtf8(WindowsErrorText(t_lastError, Utf8ToWide(ErrorText(t_lastError))));
    }

private:
    enum class Regime { Handshake, Transfer };

    // The open handle, or INVALID_HANDLE_VALUE with ERROR_INVALID_HANDLE remembered. Caller holds
    // lifetime_.
    HANDLE OpenHandle() const;
    int PurgeQueues(DWORD flags);
    // ClearCommError: the queues' fill in `status`, false (reason remembered) when it fails. The
    // line errors it reports, and clears, go to the trace: they explain garbled frames.
    bool LineStatus(HANDLE handle, COMSTAT& status);
    // Bytes waiting in the input queue, or -1 when ClearCommError fails.
    int QueuedInput(HANDLE handle);
    // XonLim and XoffLim for the DCB: a quarter of the input queue, as neither may exceed it and
    // XoffLim may not be 0; they matter only with input flow control, which SetLine turns off.
    WORD FlowLimit(HANDLE handle);
    // Waits for `overlapped` (issued on `handle`) up to limitMs, or until the device closes; a wait
    // that ends early cancels the operation and waits for it to report back. true with the bytes
    // moved, or false with the reason remembered (ERROR_TIMEOUT when limitMs passed).
    bool Finish(HANDLE handle, OVERLAPPED& overlapped, DWORD limitMs, DWORD* moved);
    // Waits until the deadline or the close: 0, or -1 when the device closes.
    int SitOut(ULONGLONG deadline);
    // One overlapped read of up to `count` bytes under the current time-outs.
    int ReadOnce(HANDLE handle, uint8_t* buffer, DWORD count, DWORD limitMs);
    // Reads what the input queue holds, at most capacity bytes: 0 when it is empty, -1 on failure.
    int ReadQueued(HANDLE handle, uint8_t* buffer, int capacity);
    // The quiet-line read (see the top of this file), at most once per kQuietLineCheckMs: bytes
    // read (0 or 1), or -1 when the line has gone.
    int CheckQuietLine(HANDLE handle, uint8_t* buffer);
    // After an event wait failed on a port that still answers ClearCommError: the line check at
    // once, then (line still there) a pause until the deadline. As ReadAvailable returns.
    int CheckFailingLine(HANDLE handle, uint8_t* buffer, ULONGLONG deadline);
    // Arms WaitCommEvent unless it is armed already. false (reason remembered) when the driver
    // refuses it; a wait that completes at once leaves nothing armed.
    bool ArmEventWait(HANDLE handle);
    // Ends an armed WaitCommEvent: SetCommMask(h, 0) ends it where CancelIo does not (wine), then
    // CancelIoEx; a wait that reports back to neither is abandoned (CCommWait). The mask is then set
    // back to `mask` (0: left cleared). Caller holds lifetime_ exclusively, or is the one reader.
    void EndEventWait(HANDLE handle, DWORD mask);

    const SerialCommApi& api_;
    std::atomic<HANDLE> handle_{INVALID_HANDLE_VALUE};
    std::atomic<Regime> regime_{Regime::Handshake};
    // The line as SetLine last programmed it, for the bound of a transfer write.
    std::atomic<uint32_t> lineBaud_{0};
    std::atomic<uint32_t> lineBitsPerByte_{10};
    // Held shared by every operation that uses the handle, exclusively while it is opened or closed.
    mutable std::shared_mutex lifetime_;
    // Set by CloseDevice before it takes lifetime_, so that every wait and write ends at once.
    CIoEvent closeEvent_;
    std::atomic<bool> closing_{false};
    CIoEvent readEvent_;
    CIoEvent writeEvent_;
    // The WaitCommEvent of the reader: armed between passes of the reader. Used by the one reader,
    // or by the controlling thread while no reader runs (SetTransferTimeouts, CloseDevice). Null
    // after a wait was abandoned, until the next one is armed.
    std::unique_ptr<CCommWait> wait_ = std::make_unique<CCommWait>();
    bool waitArmed_ = false;
    // When the reader last read or checked the line (GetTickCount64); reader state like the above.
    ULONGLONG lastLineCheck_ = 0;
};

HANDLE CSerialBackend_Win32::OpenHandle() const {
    const HANDLE handle = handle_.load();
    if (handle == INVALID_HANDLE_VALUE) Remember(ERROR_INVALID_HANDLE);
    return handle;
}

SerialOpenStatus CSerialBackend_Win32::OpenDevice(const std::string& path) {
    CloseDevice();
    std::unique_lock<std::shared_mutex> lock(lifetime_);
    if (closeEvent_.Get() == nullptr || readEvent_.Get() == nullptr || writeEvent_.Get() == nullptr) {
        Remember(ERROR_NOT_ENOUGH_MEMORY);
        return SerialOpenStatus::Other;
    }
    // No sharing: the comm driver admits one opener; overlapped, so reads and writes never queue
    // behind each other (see the top of this file).
    const HANDLE handle = api_.createFile(Utf8ToWide(path).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        Remember(error);
        return StatusOfOpenError(error);
    }
    // A name that is not a comm device (a file, a pipe) refuses the comm calls.
    if (!api_.setCommMask(handle, kHandshakeMask)) {
        const DWORD error = GetLastError();
        api_.closeHandle(handle);
        Remember(error);
        return error == ERROR_INVALID_FUNCTION || error == ERROR_NOT_SUPPORTED ? SerialOpenStatus::Missing
                                                                              : SerialOpenStatus::Other;
    }
    waitArmed_ = false;
    lastLineCheck_ = GetTickCount64();
    regime_.store(Regime::Handshake);
    handle_.store(handle);
    return SerialOpenStatus::Ok;
}

int CSerialBackend_Win32::PurgeQueues(DWORD flags) {
    std::shared_lock<std::shared_mutex> lock(lifetime_);
    const HANDLE handle = OpenHandle();
    if (handle == INVALID_HANDLE_VALUE) return 0;
    if (api_.purgeComm(handle, flags)) return 1;
    RememberLastError();
    return 0;
}

int CSerialBackend_Win32::DrainOutput(uint32_t timeoutMs) {
    std::shared_lock<std::shared_mutex> lock(lifetime_);
    const HANDLE handle = OpenHandle();
    if (handle == INVALID_HANDLE_VALUE) return 0;
    // FlushFileBuffers waits without a limit for a far end that may never take the bytes; the
    // output queue's fill is watched instead.
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    for (;;) {
        COMSTAT status{};
        if (!LineStatus(handle, status)) return 0;
        if (status.cbOutQue == 0) return 1;
        if (GetTickCount64() >= deadline) {
            Remember(ERROR_TIMEOUT);
            return 0;
        }
        if (WaitForSingleObject(closeEvent_.Get(), kDrainPollMs) == WAIT_OBJECT_0) {
            Remember(ERROR_OPERATION_ABORTED);
            return 0;
        }
    }
}

int CSerialBackend_Win32::SetHandshakeTimeouts() {
    std::shared_lock<std::shared_mutex> lock(lifetime_);
    const HANDLE handle = OpenHandle();
    if (handle == INVALID_HANDLE_VALUE) return 0;
    COMMTIMEOUTS timeouts = kHandshakeTimeouts;
    if (!api_.setCommTimeouts(handle, &timeouts)) {
        RememberLastError();
        return 0;
    }
    regime_.store(Regime::Handshake);
    return 1;
}

int CSerialBackend_Win32::SetTransferTimeouts() {
    // Exclusive: the handshake's event wait is ended here, on the thread that armed it. Windows
    // cancels a thread's pending I/O when the thread exits, and the thread that probes (the engine's
    // connect thread) ends soon after; the reader would then see its inherited wait fail.
    std::unique_lock<std::shared_mutex> lock(lifetime_);
    const HANDLE handle = OpenHandle();
    if (handle == INVALID_HANDLE_VALUE) return 0;
    EndEventWait(handle, kReaderMask);
    COMMTIMEOUTS timeouts = kTransferTimeouts;
    if (!api_.setCommTimeouts(handle, &timeouts) || !api_.setCommMask(handle, kReaderMask)) {
        RememberLastError();
        return 0;
    }
    regime_.store(Regime::Transfer);
    return 1;
}

int CSerialBackend_Win32::SetLine(const SerialLineSettings& settings) {
    std::shared_lock<std::shared_mutex> lock(lifetime_);
    const HANDLE handle = OpenHandle();
    if (handle == INVALID_HANDLE_VALUE) return 0;
    if (settings.baud == 0) {
        Remember(ERROR_INVALID_PARAMETER);
        return 0;
    }
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!api_.getCommState(handle, &dcb)) {
        RememberLastError();
        return 0;
    }
    dcb.fBinary = TRUE;
    dcb.fParity = FALSE;
    dcb.BaudRate = settings.baud;
    dcb.ByteSize = settings.byteSize;
    dcb.Parity = settings.parity;
    dcb.StopBits = settings.stopBits;
    dcb.fDtrControl = settings.dtr ? DTR_CONTROL_ENABLE : DTR_CONTROL_DISABLE;
    dcb.fRtsControl = settings.rts ? RTS_CONTROL_ENABLE : RTS_CONTROL_DISABLE;
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    // Left as another program set them, XON/XOFF would swallow 0x11 and 0x13 out of binary frames,
    // and abort-on-error would fail every read and write after one framing error until the error is
    // cleared, which looks like a lost line.
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fErrorChar = FALSE;
    dcb.fNull = FALSE;
    dcb.fAbortOnError = FALSE;
    // Not left as the driver reports them either (see kXonChar, FlowLimit).
    dcb.XonChar = kXonChar;
    dcb.XoffChar = kXoffChar;
    dcb.XonLim = dcb.XoffLim = FlowLimit(handle);
    if (!api_.setCommState(handle, &dcb)) {
        RememberLastError();
        return 0;
    }
    if (!api_.setCommMask(handle, regime_.load() == Regime::Transfer ? kReaderMask : kHandshakeMask)) {
        RememberLastError();
        return 0;
    }
    lineBaud_.store(settings.baud);
    lineBitsPerByte_.store(SerialBitsPerByte(settings));
    return 1;
}

WORD CSerialBackend_Win32::FlowLimit(HANDLE handle) {
    COMMPROP properties{};
    properties.wPacketLength = sizeof properties;
    const DWORD queue = api_.getCommProperties(handle, &properties) && properties.dwCurrentRxQueue > 0
                            ? properties.dwCurrentRxQueue
                            : kAssumedInputQueue;
    return static_cast<WORD>(std::clamp<DWORD>(queue / 4, 1, 0xFFFF));
}

bool CSerialBackend_Win32::LineStatus(HANDLE handle, COMSTAT& status) {
    DWORD errors = 0;
    if (!api_.clearCommError(handle, &errors, &status)) {
        RememberLastError();
        return false;
    }
    if (errors != 0) Trace(L"[CSerial] the driver reports line errors:%ls (0x%lx)\r\n", LineErrorWords(errors).c_str(), errors);
    return true;
}

int CSerialBackend_Win32::QueuedInput(HANDLE handle) {
    COMSTAT status{};
    if (!LineStatus(handle, status)) return -1;
    return static_cast<int>(std::min<DWORD>(status.cbInQue, 0x7FFFFFFF));
}

bool CSerialBackend_Win32::Finish(HANDLE handle, OVERLAPPED& overlapped, DWORD limitMs, DWORD* moved) {
    const HANDLE events[] = {overlapped.hEvent, closeEvent_.Get()};
    const DWORD woke = WaitForMultipleObjects(2, events, FALSE, limitMs);
    if (woke == WAIT_OBJECT_0) {
        if (api_.getOverlappedResult(handle, &overlapped, moved, FALSE)) return true;
        RememberLastError();
        return false;
    }
    const DWORD reason = woke == WAIT_OBJECT_0 + 1 ? ERROR_OPERATION_ABORTED
                         : woke == WAIT_TIMEOUT     ? ERROR_TIMEOUT
                                                    : GetLastError();
    api_.cancelIoEx(handle, &overlapped);
    // The driver may still write into the OVERLAPPED and the caller's buffer until it reports the
    // cancellation, so this wait has no limit; a cancelled read or write always reports back.
    api_.getOverlappedResult(handle, &overlapped, moved, TRUE);
    Remember(reason);
    return false;
}

int CSerialBackend_Win32::SitOut(ULONGLONG deadline) {
    const ULONGLONG now = GetTickCount64();
    const DWORD leftMs = static_cast<DWORD>(deadline > now ? deadline - now : 0);
    if (WaitForSingleObject(closeEvent_.Get(), leftMs) == WAIT_OBJECT_0) {
        Remember(ERROR_OPERATION_ABORTED);
        return -1;
    }
    return 0;
}

int CSerialBackend_Win32::ReadOnce(HANDLE handle, uint8_t* buffer, DWORD count, DWORD limitMs) {
    OVERLAPPED overlapped = readEvent_.Arm();
    DWORD got = 0;
    if (!api_.readFile(handle, buffer, count, nullptr, &overlapped) && GetLastError() != ERROR_IO_PENDING) {
        RememberLastError();
        return -1;
    }
    return Finish(handle, overlapped, limitMs, &got) ? static_cast<int>(got) : -1;
}

int CSerialBackend_Win32::ReadQueued(HANDLE handle, uint8_t* buffer, int capacity) {
    const int queued = QueuedInput(handle);
    if (queued <= 0) return queued;
    return ReadOnce(handle, buffer, static_cast<DWORD>(std::min(queued, capacity)), kQueuedReadLimitMs);
}

bool CSerialBackend_Win32::ArmEventWait(HANDLE handle) {
    if (waitArmed_) return true;
    if (!wait_) wait_ = std::make_unique<CCommWait>();
    if (wait_->event == nullptr) {
        wait_.reset();
        Remember(ERROR_NOT_ENOUGH_MEMORY);
        return false;
    }
    ResetEvent(wait_->event);
    wait_->overlapped = OVERLAPPED{};
    wait_->overlapped.hEvent = wait_->event;
    wait_->events = 0;
    if (api_.waitCommEvent(handle, &wait_->events, &wait_->overlapped)) return true;
    if (GetLastError() != ERROR_IO_PENDING) {
        RememberLastError();
        return false;
    }
    waitArmed_ = true;
    return true;
}

void CSerialBackend_Win32::EndEventWait(HANDLE handle, DWORD mask) {
    if (!waitArmed_) return;
    // A pending WaitCommEvent ends when the mask changes under it.
    api_.setCommMask(handle, 0);
    bool ended = WaitForSingleObject(wait_->event, kCancelWaitMs) == WAIT_OBJECT_0;
    if (!ended) {
        api_.cancelIoEx(handle, &wait_->overlapped);
        ended = WaitForSingleObject(wait_->event, kCancelWaitMs) == WAIT_OBJECT_0;
    }
    if (ended) {
        DWORD unused = 0;
        api_.getOverlappedResult(handle, &wait_->overlapped, &unused, FALSE);
    } else {
        Trace(L"[CSerial] the driver ended its event wait neither on a cleared mask nor on cancellation; the "
              L"wait is left to it\r\n");
        [[maybe_unused]] CCommWait* abandoned = wait_.release();
    }
    waitArmed_ = false;
    if (mask != 0) api_.setCommMask(handle, mask);
}

int CSerialBackend_Win32::CheckFailingLine(HANDLE handle, uint8_t* buffer, ULONGLONG deadline) {
    // On wine a hung-up pseudo-terminal fails the event wait as well; the read tells.
    lastLineCheck_ = 0;
    const int got = CheckQuietLine(handle, buffer);
    if (got != 0) return got;
    // A wait that keeps failing on a live port must not spin the reader.
    return SitOut(deadline);
}

int CSerialBackend_Win32::CheckQuietLine(HANDLE handle, uint8_t* buffer) {
    const ULONGLONG now = GetTickCount64();
    if (regime_.load() != Regime::Transfer || now - lastLineCheck_ < kQuietLineCheckMs) return 0;
    lastLineCheck_ = now;
    OVERLAPPED overlapped = readEvent_.Arm();
    DWORD got = 0;
    if (!api_.readFile(handle, buffer, 1, nullptr, &overlapped)) {
        if (GetLastError() != ERROR_IO_PENDING) {
            RememberLastError();
            return -1;
        }
        // Nothing queued and the line still there (wine): the cancelled read reports back at once.
        api_.cancelIoEx(handle, &overlapped);
    }
    if (api_.getOverlappedResult(handle, &overlapped, &got, TRUE)) return static_cast<int>(got);
    const DWORD error = GetLastError();
    if (error == ERROR_OPERATION_ABORTED) return 0;
    Remember(error);
    return -1;
}

int CSerialBackend_Win32::Read(uint8_t* buffer, int capacity) {
    if (buffer == nullptr || capacity <= 0) {
        Remember(ERROR_INVALID_PARAMETER);
        return -1;
    }
    if (regime_.load() == Regime::Transfer) return ReadAvailable(buffer, capacity, 0);
    std::shared_lock<std::shared_mutex> lock(lifetime_);
    const HANDLE handle = OpenHandle();
    if (handle == INVALID_HANDLE_VALUE) return -1;
    // The handshake's single read: an overlapped read waited to completion keeps the comm time-outs
    // (up to 1 + n ms for the data, 1 ms after the last byte).
    const DWORD count = static_cast<DWORD>(capacity);
    const DWORD limitMs = kHandshakeTimeouts.ReadTotalTimeoutConstant +
                          kHandshakeTimeouts.ReadTotalTimeoutMultiplier * count + kDriverMarginMs;
    return ReadOnce(handle, buffer, count, limitMs);
}

int CSerialBackend_Win32::ReadAvailable(uint8_t* buffer, int capacity, uint32_t waitMs) {
    if (buffer == nullptr || capacity <= 0) {
        Remember(ERROR_INVALID_PARAMETER);
        return -1;
    }
    std::shared_lock<std::shared_mutex> lock(lifetime_);
    const HANDLE handle = OpenHandle();
    if (handle == INVALID_HANDLE_VALUE) return -1;
    const ULONGLONG deadline = GetTickCount64() + waitMs;
    int emptyWaits = 0;  // waits of this call that ended and left nothing to read
    for (;;) {
        if (closing_.load()) {
            Remember(ERROR_OPERATION_ABORTED);
            return -1;
        }
        if (!ArmEventWait(handle)) return IsLineGone(t_lastError) ? -1 : CheckFailingLine(handle, buffer, deadline);
        // Checked after arming: a byte that came in before the wait was armed may not raise
        // EV_RXCHAR for it.
        const int got = ReadQueued(handle, buffer, capacity);
        if (got != 0) {
            lastLineCheck_ = GetTickCount64();
            return got;
        }
        // A wait ends once for nothing when its byte was read before (it came in between arming
        // and reading). Ending again for nothing (a driver whose wait completes at once, a line
        // error) means waiting again would spin until the deadline, so the slice is sat out.
        if (emptyWaits >= 2) return SitOut(deadline) < 0 ? -1 : CheckQuietLine(handle, buffer);

        const ULONGLONG now = GetTickCount64();
        if (now >= deadline) return CheckQuietLine(handle, buffer);
        const HANDLE events[] = {wait_->event, closeEvent_.Get()};
        const DWORD woke = WaitForMultipleObjects(2, events, FALSE, static_cast<DWORD>(deadline - now));
        if (woke == WAIT_TIMEOUT) return CheckQuietLine(handle, buffer);
        if (woke != WAIT_OBJECT_0) {
            Remember(woke == WAIT_OBJECT_0 + 1 ? ERROR_OPERATION_ABORTED : GetLastError());
            return -1;
        }
        DWORD unused = 0;
        const bool ended = !waitArmed_ || api_.getOverlappedResult(handle, &wait_->overlapped, &unused, FALSE);
        const DWORD waitError = ended ? 0 : GetLastError();
        waitArmed_ = false;
        if (ended) {
            ++emptyWaits;
            continue;
        }
        // A wait also fails when the event mask changes under it (a line change, or the thread that
        // armed it exiting); only a port that refuses ClearCommError as well has gone.
        const int queued = QueuedInput(handle);
        if (queued < 0) {
            if (!IsLineGone(t_lastError)) Remember(waitError);
            return -1;
        }
        if (queued == 0) return CheckFailingLine(handle, buffer, deadline);
    }
}

SerialWriteResult CSerialBackend_Win32::Write(const uint8_t* data, uint32_t length) {
    using Status = SerialWriteResult::Status;
    SerialWriteResult result;
    if (data == nullptr || length == 0) {
        Remember(ERROR_INVALID_PARAMETER);
        return result;
    }
    std::shared_lock<std::shared_mutex> lock(lifetime_);
    const HANDLE handle = OpenHandle();
    if (handle == INVALID_HANDLE_VALUE) return result;
    if (closing_.load()) {
        Remember(ERROR_OPERATION_ABORTED);
        return result;
    }
    // Handshake writes keep the driver's time-out (with a margin for a driver that ignores it);
    // transfer writes are bounded as the POSIX back end bounds them. Finish cancels a write that
    // runs out and waits for the cancellation to report back before the OVERLAPPED is armed again.
    if (regime_.load() == Regime::Handshake)
        result.limitMs = static_cast<uint32_t>(std::min<ULONGLONG>(
            kHandshakeTimeouts.WriteTotalTimeoutConstant +
                static_cast<ULONGLONG>(kHandshakeTimeouts.WriteTotalTimeoutMultiplier) * length + kDriverMarginMs,
            0x7FFFFFFF));
    else
        result.limitMs = SerialWriteLimitMs(lineBaud_.load(), lineBitsPerByte_.load(), length);
    OVERLAPPED overlapped = writeEvent_.Arm();
    if (!api_.writeFile(handle, data, length, nullptr, &overlapped) && GetLastError() != ERROR_IO_PENDING) {
        RememberLastError();
        return result;
    }
    DWORD written = 0;
    const bool finished = Finish(handle, overlapped, result.limitMs, &written);
    result.written = static_cast<uint32_t>(std::min<DWORD>(written, length));
    if (!finished) {
        // A write that completed while it was being cancelled has gone out all the same.
        if (t_lastError == ERROR_TIMEOUT) result.status = written == length ? Status::Done : Status::Stalled;
        return result;
    }
    if (written != length) {
        // The driver's write time-out ends a write early with success and a short count.
        Remember(ERROR_TIMEOUT);
        result.status = Status::Stalled;
        return result;
    }
    result.status = Status::Done;
    return result;
}

void CSerialBackend_Win32::CloseDevice() {
    closing_.store(true);
    if (closeEvent_.Get() != nullptr) SetEvent(closeEvent_.Get());
    std::unique_lock<std::shared_mutex> lock(lifetime_);
    const HANDLE handle = handle_.exchange(INVALID_HANDLE_VALUE);
    if (handle != INVALID_HANDLE_VALUE) {
        // The reader is gone, but its WaitCommEvent may still be armed; its OVERLAPPED lives here.
        EndEventWait(handle, 0);
        api_.closeHandle(handle);
    }
    waitArmed_ = false;
    if (closeEvent_.Get() != nullptr) ResetEvent(closeEvent_.Get());
    closing_.store(false);
}

void CSerialBackend_Win32::EndReading() {
    // On this thread: Windows cancels a thread's pending I/O when the thread exits and waits for the
    // driver to honour it; a cleared mask ends the wait on drivers that do not.
    std::shared_lock<std::shared_mutex> lock(lifetime_);
    const HANDLE handle = handle_.load();
    if (handle != INVALID_HANDLE_VALUE) EndEventWait(handle, regime_.load() == Regime::Transfer ? kReaderMask : kHandshakeMask);
}

}  // namespace

const SerialCommApi& SystemCommApi() {
    static const SerialCommApi api = {CreateFileW,    CloseHandle,    SetCommMask,    GetCommState,
                                      SetCommState,   GetCommProperties, SetCommTimeouts, PurgeComm,
                                      ClearCommError, ReadFile,       WriteFile,      WaitCommEvent,
                                      GetOverlappedResult, CancelIoEx};
    return api;
}

std::unique_ptr<CSerialBackend> CreateSerialBackendOver(const SerialCommApi& api) {
    return std::make_unique<CSerialBackend_Win32>(api);
}

std::unique_ptr<CSerialBackend> CreateSerialBackend() { return CreateSerialBackendOver(SystemCommApi()); }
