#include "transport/Serial.h"

#include <algorithm>
#include <array>

#include "base/Text.h"
#include "base/Trace.h"
#include "transport/PortList.h"
#include "transport/SerialBackend.h"
#include "transport/SerialObject.h"
#include "transport/SerialOpenHook.h"
#include "transport/SerialProbe.h"
#include "transport/TickCount.h"

namespace {

// The handshake regime waits 1 ms plus 1 ms per byte of the read buffer for the first byte; a probe
// that goes on reading past line noise stays within the same wait.
constexpr uint32_t kHandshakeWaitMs = 1 + SERIAL_READ_CHUNK;

const char* OpenErrorWords(CSerial::OpenError error) {
    switch (error) {
        case CSerial::OpenError::None: return "ok";
        case CSerial::OpenError::Missing: return "missing";
        case CSerial::OpenError::PermissionDenied: return "permission denied";
        case CSerial::OpenError::Busy: return "busy";
        case CSerial::OpenError::LineSettings: return "line settings refused";
        case CSerial::OpenError::NoAnswer: return "no answer";
        case CSerial::OpenError::Other: return "failed";
    }
    return "failed";
}

CSerial::OpenError FromOpenStatus(SerialOpenStatus status) {
    switch (status) {
        case SerialOpenStatus::Ok: return CSerial::OpenError::None;
        case SerialOpenStatus::Missing: return CSerial::OpenError::Missing;
        case SerialOpenStatus::PermissionDenied: return CSerial::OpenError::PermissionDenied;
        case SerialOpenStatus::Busy: return CSerial::OpenError::Busy;
        case SerialOpenStatus::Other: return CSerial::OpenError::Other;
    }
    return CSerial::OpenError::Other;
}

}  // namespace

CSerial::CSerial(CSerialObject* receiver, int /*reserved*/, uint32_t readerPauseMs)
    : CSerial(nullptr, receiver, readerPauseMs) {}

CSerial::CSerial(std::unique_ptr<CSerialBackend> backend, CSerialObject* receiver, uint32_t readerPauseMs)
    : CAutoThread(SERIAL_STOP_WAIT_MS),
      receiver_(receiver),
      readerPauseMs_(readerPauseMs),
      backend_(backend ? std::move(backend) : CreateSerialBackend()) {}

CSerial::~CSerial() {
    // CAutoThread's destructor would stop the reader only after this object's members are gone.
    Close();
}

int CSerial::SetReceiver(CSerialObject* receiver) {
    receiver_.store(receiver);
    return 1;
}

void CSerial::SetOpenHook(CSerialOpenHook* hook) { openHook_.store(hook); }

void CSerial::SetProbe(const CSerialProbe* probe) { probe_.store(probe); }

std::string CSerial::LastPortName() const {
    std::lock_guard<std::mutex> lock(nameMutex_);
    return lastPortName_;
}

int CSerial::FailOpen(OpenError error, const char* what) {
    lastOpenError_.store(error);
    const std::string reason = backend_->LastErrorText();
    // Port names and OS reasons are UTF-8 and may be Cyrillic: %hs would read them in the C locale,
    // and swprintf drops the whole line at the first such letter.
    Trace(L"[CSerial] %ls %hs: %hs%hs%ls\r\n", Utf8ToWide(LastPortName()).c_str(), what, OpenErrorWords(error),
          reason.empty() ? "" : ", ", Utf8ToWide(reason).c_str());
    Close();
    return 0;
}

int CSerial::Open(uint8_t port, uint32_t baud, uint8_t byteSize, uint8_t parity, uint8_t stopBits) {
    if (IsOpen()) Close();

    const std::string path = PortPath(port);
    {
        std::lock_guard<std::mutex> lock(nameMutex_);
        lastPortName_ = path;
    }
    if (path.empty()) {
        // Scans walk through many port numbers; one without a device is not worth a trace line.
        lastOpenError_.store(OpenError::Missing);
        return 0;
    }

    if (probe_.load() == nullptr) {
        // Without a handshake no port could be told from any other: a programming error, not a port's.
        lastOpenError_.store(OpenError::Other);
        Trace(L"[CSerial] %ls: no handshake was given to the port; not opened\r\n", Utf8ToWide(path).c_str());
        return 0;
    }
    const SerialOpenStatus status = backend_->OpenDevice(path);
    if (status != SerialOpenStatus::Ok) return FailOpen(FromOpenStatus(status), "open");
    // Nothing stale can be queued on a port that was just opened; a refused purge is no reason to
    // give the port up.
    backend_->Purge();
    if (!backend_->SetHandshakeTimeouts()) return FailOpen(OpenError::LineSettings, "handshake time-outs");

    // DTR on while the device is probed, off for the transfer (SetLineParams); RTS on throughout.
    if (!backend_->SetLine(LineSettings(baud, byteSize, parity, stopBits, true))) return FailOpen(OpenError::LineSettings, "line settings");

    // The device is told its port's number as the system names it, not the port's place in a list.
    const uint8_t portByte = static_cast<uint8_t>(PortByte(port));
    if (!Probe(portByte)) {
        lastOpenError_.store(OpenError::NoAnswer);
        Trace(L"[CSerial] %ls: no device answered the handshake\r\n", Utf8ToWide(path).c_str());
        Close();
        return 0;
    }

    // A port left at the scan speed, or reading with the handshake waits, would look open but lose
    // the transfer; both failures therefore fail the open instead of being ignored.
    if (!backend_->SetTransferTimeouts()) return FailOpen(OpenError::LineSettings, "transfer time-outs");
    if (!SetLineParams(SERIAL_TRANSFER_BAUD, 8, SERIAL_PARITY_NONE, SERIAL_ONE_STOP_BIT))
        return FailOpen(OpenError::LineSettings, "transfer line settings");

    RequestLowLatency(path);

    if (CSerialOpenHook* hook = openHook_.load()) {
        hook->RestartCommandSender();
        hook->RequestDeviceInfo(portByte);
    }

    lineFailed_.store(false);
    lineUp_.store(true);
    if (!Start()) return FailOpen(OpenError::Other, "reader thread start");
    lastOpenError_.store(OpenError::None);
    Trace(L"[CSerial] %ls open at %u baud\r\n", Utf8ToWide(path).c_str(), SERIAL_TRANSFER_BAUD);
    return 1;
}

SerialLineSettings CSerial::LineSettings(uint32_t baud, uint8_t byteSize, uint8_t parity, uint8_t stopBits,
                                         bool dtr) {
    return SerialLineSettings{.baud = baud, .byteSize = byteSize, .parity = parity, .stopBits = stopBits, .dtr = dtr,
                              .rts = true};
}

void CSerial::RequestLowLatency(const std::string& path) {
    // Without it a USB adapter may sit on each answer for its latency timer; a port that refuses
    // still works, only slower, so nothing here fails the open.
    switch (backend_->RequestLowLatency()) {
        case SerialLowLatency::On:
            Trace(L"[CSerial] %ls: low-latency mode on\r\n", Utf8ToWide(path).c_str());
            break;
        case SerialLowLatency::Unsupported:
            Trace(L"[CSerial] %ls: no low-latency mode (not a serial-core driver)\r\n", Utf8ToWide(path).c_str());
            break;
        case SerialLowLatency::Failed: {
            const std::string reason = backend_->LastErrorText();
            Trace(L"[CSerial] %ls: low-latency mode refused: %ls\r\n", Utf8ToWide(path).c_str(),
                  Utf8ToWide(reason).c_str());
            break;
        }
    }
}

int CSerial::SetLineParams(uint32_t baud, uint8_t byteSize, uint8_t parity, uint8_t stopBits) {
    if (!IsOpen()) return 0;
    return backend_->SetLine(LineSettings(baud, byteSize, parity, stopBits, false)) ? 1 : 0;
}

int CSerial::Probe(uint8_t portByte) {
    const CSerialProbe* probe = probe_.load();
    if (probe == nullptr) return 0;
    const std::vector<uint8_t> request = probe->Request(portByte);
    if (request.empty() || !Write(request.data(), static_cast<uint32_t>(request.size()))) return 0;

    std::array<uint8_t, SERIAL_READ_CHUNK> answer{};
    const int capacity = static_cast<int>(answer.size());
    const uint32_t startMs = GetTickCountMs();
    int got = backend_->Read(answer.data(), capacity);
    if (got < 0) return 0;
    got = std::min(got, capacity);
    while (got < capacity && !probe->IsAnswer(answer.data(), got)) {
        const uint32_t waitedMs = GetTickCountMs() - startMs;
        if (waitedMs >= kHandshakeWaitMs) break;
        const int count = backend_->ReadAvailable(answer.data() + got, capacity - got, kHandshakeWaitMs - waitedMs);
        if (count <= 0) break;
        got += std::min(count, capacity - got);
    }
    return probe->IsAnswer(answer.data(), got) ? 1 : 0;
}

int CSerial::Write(const uint8_t* data, uint32_t length) {
    if (data == nullptr || length == 0 || !IsOpen()) return 0;
    const SerialWriteResult result = backend_->Write(data, length);
    if (result.status == SerialWriteResult::Status::Done) return 1;
    const std::string reason = backend_->LastErrorText();
    Trace(L"[CSerial] write of %u bytes failed: %ls\r\n", length, Utf8ToWide(reason).c_str());
    if (result.status == SerialWriteResult::Status::Stalled)
        ReportWriteStalled(result.written, length, result.limitMs);
    else
        ReportLineError("write");
    return 0;
}

bool CSerial::TakeLineFailure() {
    // Only the first failure of an open line is news; a closing port fails its reads and writes on
    // purpose and has already cleared the flag.
    if (!lineUp_.exchange(false)) return false;
    lineFailed_.store(true);
    return true;
}

void CSerial::ReportWriteStalled(uint32_t written, uint32_t length, uint32_t waitedMs) {
    if (!TakeLineFailure()) return;
    Trace(L"[CSerial] %ls: the device took %u of %u bytes in %u ms and no more; it does not read the line\r\n",
          Utf8ToWide(LastPortName()).c_str(), written, length, waitedMs);
    if (CSerialObject* receiver = receiver_.load()) receiver->OnWriteStalled(written, length, waitedMs);
}

void CSerial::ReportLineError(const char* what) {
    // Both taken at once, on the failing thread: the OS reason is per thread.
    const std::string osReason = backend_->LastErrorText();
    const std::string userReason = backend_->LastErrorTextForUser();
    if (!TakeLineFailure()) return;
    Trace(L"[CSerial] %ls: line lost on %hs: %ls\r\n", Utf8ToWide(LastPortName()).c_str(), what,
          Utf8ToWide(osReason.empty() ? std::string("unknown error") : osReason).c_str());
    // The receiver's reason reaches people: in their words, the system's stay in the trace above.
    if (CSerialObject* receiver = receiver_.load())
        receiver->OnLineError(userReason.empty() ? std::string("неизвестная ошибка") : userReason);
}

int CSerial::DrainOutput(uint32_t timeoutMs) {
    if (!IsOpen()) return 0;
    return backend_->DrainOutput(timeoutMs);
}

void CSerial::Close() {
    // The last frame of a run (an image's end command, which the device never confirms) must reach
    // the device: output is discarded only when it could not leave in time. On a pseudo-terminal
    // "left" means handed to the other side, which a full purge would still take back. A dead line
    // fails the drain at once.
    const bool wasRunning = IsRunning();
    const bool drained = lineUp_.load() && backend_->DrainOutput(kCloseDrainMs);
    lineUp_.store(false);
    lineFailed_.store(false);
    if (drained)
        backend_->PurgeInput();
    else
        backend_->Purge();
    // The reader must be gone before the handle it reads from.
    Stop();
    backend_->CloseDevice();
    // The last line of a run that stopped in order (a killed process never writes it).
    if (wasRunning) Trace(L"[CSerial] %ls closed\r\n", Utf8ToWide(LastPortName()).c_str());
}

bool CSerial::IsOpen() const { return backend_->IsOpen(); }

int CSerial::Run() {
    std::array<uint8_t, SERIAL_READ_CHUNK> buffer{};
    bool failing = false;
    while (!IsStopping()) {
        const int count = backend_->ReadAvailable(buffer.data(), static_cast<int>(buffer.size()), readerPauseMs_);
        if (count > 0) {
            failing = false;
            if (CSerialObject* receiver = receiver_.load())
                receiver->OnReceive(buffer.data(), static_cast<uint32_t>(count));
        } else if (count < 0) {
            // A hung-up line fails every read at once; pausing keeps the loop from spinning, and
            // one trace line per outage keeps the trace readable.
            if (!failing) {
                const std::string reason = backend_->LastErrorText();
                Trace(L"[CSerial] read failed: %ls\r\n", Utf8ToWide(reason).c_str());
                failing = true;
                ReportLineError("read");
            }
            SleepMs(std::max<uint32_t>(readerPauseMs_, 1));
        }
    }
    backend_->EndReading();
    return 0;
}
