#include "transport/Serial.h"

#include <algorithm>
#include <array>

#include "base/Text.h"
#include "base/Trace.h"
#include "transport/PortList.h"
#include "transport/PortListScan.h"
#include "transport/PortSearch.h"
#include "transport/SerialBackend.h"
#include "transport/SerialHandshake.h"
#include "transport/SerialObject.h"
#include "transport/SerialOpenHook.h"
#include "transport/SerialProbe.h"
#include "transport/TickCount.h"


namespace {

// As PortByte, from the candidate itself: its COM number, else its number.
uint8_t CandidatePortByte(const PortCandidate& candidate) {
    const unsigned com = ComPortNumber(candidate.path);
    return static_cast<uint8_t>(com != 0 ? com : candidate.port);
}

}  // namespace

CSerial::CSerial(CSerialObject* receiver, int /*reserved*/, uint32_t readerPauseMs)
    : CSerial(nullptr, receiver, readerPauseMs) {}

CSerial::CSerial(std::unique_ptr<CSerialBackend> backend, CSerialObject* receiver, uint32_t readerPauseMs)
    : CAutoThread(SERIAL_STOP_WAIT_MS),
      receiver_(receiver),
      readerPauseMs_(readerPauseMs),
      backend_(backend ? std::shared_ptr<CSerialBackend>(std::move(backend)) : std::shared_ptr<CSerialBackend>(CreateSerialBackend())),
      backendFactory_(CreateSerialBackend) {}

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

void CSerial::SetBackendFactory(std::function<std::unique_ptr<CSerialBackend>()> factory) {
    backendFactory_ = factory ? std::move(factory) : std::function<std::unique_ptr<CSerialBackend>()>(CreateSerialBackend);
}

void CSerial::SetLastPortName(const std::string& path) {
    std::lock_guard<std::mutex> lock(nameMutex_);
    lastPortName_ = path;
}

std::string CSerial::LastPortName() const {
    std::lock_guard<std::mutex> lock(nameMutex_);
    return lastPortName_;
}

int CSerial::FailOpen(OpenError error, const char* what) {
    lastOpenError_.store(error);
    const std::string reason = Backend()->LastErrorText();
    // Port names and OS reasons are UTF-8 and may be Cyrillic: %hs would read them in the C locale,
    // and swprintf drops the whole line at the first such letter.
    Trace(L"[CSerial] %ls %hs: failed%hs%ls\r\n", Utf8ToWide(LastPortName()).c_str(), what,
          reason.empty() ? "" : ", ", Utf8ToWide(reason).c_str());
    Close();
    return 0;
}

int CSerial::Open(uint8_t port, uint32_t baud, uint8_t byteSize, uint8_t parity, uint8_t stopBits) {
    if (IsOpen()) Close();

    const std::string path = PortPath(port);
    SetLastPortName(path);
    if (path.empty()) {
        // Scans walk through many port numbers; one without a device is not worth a trace line.
        lastOpenError_.store(OpenError::Missing);
        return 0;
    }

    const CSerialProbe* probe = probe_.load();
    if (probe == nullptr) {
        // Without a handshake no port could be told from any other: a programming error, not a port's.
        lastOpenError_.store(OpenError::Other);
        Trace(L"[CSerial] %ls: no handshake was given to the port; not opened\r\n", Utf8ToWide(path).c_str());
        return 0;
    }
    // DTR on while the device is probed, off for the transfer (SetLineParams); RTS on throughout.
    const std::shared_ptr<CSerialBackend> backend = Backend();
    const OpenError opened = OpenForHandshake(*backend, path, LineSettings(baud, byteSize, parity, stopBits, true));
    if (opened != OpenError::None) {
        lastOpenError_.store(opened);
        return 0;
    }

    // The device is told its port's number as the system names it, not the port's place in a list.
    const uint8_t portByte = static_cast<uint8_t>(PortByte(port));
    if (!Probe(portByte)) {
        lastOpenError_.store(OpenError::NoAnswer);
        Trace(L"[CSerial] %ls: no device answered the handshake\r\n", Utf8ToWide(path).c_str());
        Close();
        return 0;
    }
    return FinishOpen(port, path, portByte);
}

int CSerial::OpenFirstAnswering(const std::vector<PortCandidate>& candidates, uint32_t baud, uint8_t byteSize,
                                uint8_t parity, uint8_t stopBits, const std::atomic<bool>& stop,
                                std::vector<std::pair<std::string, OpenError>>& tried) {
    if (IsOpen()) Close();
    tried.clear();
    const CSerialProbe* probe = probe_.load();
    if (probe == nullptr) {
        lastOpenError_.store(OpenError::Other);
        Trace(L"[CSerial] no handshake was given to the port; no port searched\r\n");
        return 0;
    }
    PortSearchResult found = SearchPorts(
        candidates, LineSettings(baud, byteSize, parity, stopBits, true), *probe,
        [](const PortCandidate& candidate) { return CandidatePortByte(candidate); },
        backendFactory_, stop);
    for (const PortProbeOutcome& outcome : found.tried) tried.emplace_back(outcome.path, outcome.error);
    if (!found.backend) {
        SetLastPortName(tried.empty() ? std::string() : tried.back().first);
        lastOpenError_.store(tried.empty() ? OpenError::Missing : tried.back().second);
        return 0;
    }
    SetLastPortName(found.kept.path);
    // The reader is stopped and the old back end closed: only the sender may still hold it, for a
    // write that fails at once.
    backend_.store(std::shared_ptr<CSerialBackend>(std::move(found.backend)));
    return FinishOpen(found.kept.port, found.kept.path, CandidatePortByte(found.kept));
}

int CSerial::FinishOpen(unsigned port, const std::string& path, uint8_t portByte) {
    const std::shared_ptr<CSerialBackend> backend = Backend();
    // A port left at the scan speed, or reading with the handshake waits, would look open but lose
    // the transfer; both failures therefore fail the open instead of being ignored.
    if (!backend->SetTransferTimeouts()) return FailOpen(OpenError::LineSettings, "transfer time-outs");
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
    openedPort_.store(port);
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
    switch (Backend()->RequestLowLatency()) {
        case SerialLowLatency::On:
            Trace(L"[CSerial] %ls: low-latency mode on\r\n", Utf8ToWide(path).c_str());
            break;
        case SerialLowLatency::Unsupported:
            Trace(L"[CSerial] %ls: no low-latency mode (not a serial-core driver)\r\n", Utf8ToWide(path).c_str());
            break;
        case SerialLowLatency::Failed: {
            const std::string reason = Backend()->LastErrorText();
            Trace(L"[CSerial] %ls: low-latency mode refused: %ls\r\n", Utf8ToWide(path).c_str(),
                  Utf8ToWide(reason).c_str());
            break;
        }
    }
}

int CSerial::SetLineParams(uint32_t baud, uint8_t byteSize, uint8_t parity, uint8_t stopBits) {
    if (!IsOpen()) return 0;
    return Backend()->SetLine(LineSettings(baud, byteSize, parity, stopBits, false)) ? 1 : 0;
}

int CSerial::Probe(uint8_t portByte) {
    const CSerialProbe* probe = probe_.load();
    if (probe == nullptr || !IsOpen()) return 0;
    return ProbeForAnswer(*Backend(), *probe, probe->Request(portByte), nullptr) ? 1 : 0;
}

int CSerial::Write(const uint8_t* data, uint32_t length) {
    if (data == nullptr || length == 0 || !IsOpen()) return 0;
    const SerialWriteResult result = Backend()->Write(data, length);
    if (result.status == SerialWriteResult::Status::Done) return 1;
    const std::string reason = Backend()->LastErrorText();
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
    const std::string osReason = Backend()->LastErrorText();
    const std::string userReason = Backend()->LastErrorTextForUser();
    if (!TakeLineFailure()) return;
    Trace(L"[CSerial] %ls: line lost on %hs: %ls\r\n", Utf8ToWide(LastPortName()).c_str(), what,
          Utf8ToWide(osReason.empty() ? std::string("unknown error") : osReason).c_str());
    // The receiver's reason reaches people: in their words, the system's stay in the trace above.
    if (CSerialObject* receiver = receiver_.load())
        receiver->OnLineError(userReason.empty() ? std::string("неизвестная ошибка") : userReason);
}

int CSerial::DrainOutput(uint32_t timeoutMs) {
    if (!IsOpen()) return 0;
    return Backend()->DrainOutput(timeoutMs);
}

void CSerial::Close() {
    // The last frame of a run (an image's end command, which the device never confirms) must reach
    // the device: output is discarded only when it could not leave in time. On a pseudo-terminal
    // "left" means handed to the other side, which a full purge would still take back. A dead line
    // fails the drain at once.
    const bool wasRunning = IsRunning();
    const bool drained = lineUp_.load() && Backend()->DrainOutput(kCloseDrainMs);
    lineUp_.store(false);
    lineFailed_.store(false);
    if (drained)
        Backend()->PurgeInput();
    else
        Backend()->Purge();
    // The reader must be gone before the handle it reads from.
    Stop();
    Backend()->CloseDevice();
    // The last line of a run that stopped in order (a killed process never writes it).
    if (wasRunning) Trace(L"[CSerial] %ls closed\r\n", Utf8ToWide(LastPortName()).c_str());
}

bool CSerial::IsOpen() const { return Backend()->IsOpen(); }

int CSerial::Run() {
    // The back end is only swapped while the reader is stopped.
    const std::shared_ptr<CSerialBackend> backend = Backend();
    std::array<uint8_t, SERIAL_READ_CHUNK> buffer{};
    bool failing = false;
    while (!IsStopping()) {
        const int count = backend->ReadAvailable(buffer.data(), static_cast<int>(buffer.size()), readerPauseMs_);
        if (count > 0) {
            failing = false;
            if (CSerialObject* receiver = receiver_.load())
                receiver->OnReceive(buffer.data(), static_cast<uint32_t>(count));
        } else if (count < 0) {
            // A hung-up line fails every read at once; pausing keeps the loop from spinning, and
            // one trace line per outage keeps the trace readable.
            if (!failing) {
                const std::string reason = backend->LastErrorText();
                Trace(L"[CSerial] read failed: %ls\r\n", Utf8ToWide(reason).c_str());
                failing = true;
                ReportLineError("read");
            }
            SleepMs(std::max<uint32_t>(readerPauseMs_, 1));
        }
    }
    backend->EndReading();
    return 0;
}
