#include "transport/SerialHandshake.h"

#include <algorithm>
#include <array>

#include "base/Text.h"
#include "base/Trace.h"
#include "transport/SerialProbe.h"
#include "transport/TickCount.h"

namespace {

// How often a probe that may be called off looks at its stop flag while the port is quiet.
constexpr uint32_t kStopLookMs = 20;

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

CSerial::OpenError Fail(CSerialBackend& backend, const std::string& path, CSerial::OpenError error, const char* what) {
    const std::string reason = backend.LastErrorText();
    // Port names and OS reasons are UTF-8 and may be Cyrillic: %hs would read them in the C locale,
    // and swprintf drops the whole line at the first such letter.
    Trace(L"[CSerial] %ls %hs: %hs%hs%ls\r\n", Utf8ToWide(path).c_str(), what, OpenErrorWords(error),
          reason.empty() ? "" : ", ", Utf8ToWide(reason).c_str());
    // Whatever the failed step left queued goes with the port.
    if (backend.IsOpen()) backend.Purge();
    backend.CloseDevice();
    return error;
}

}  // namespace

CSerial::OpenError OpenForHandshake(CSerialBackend& backend, const std::string& path, const SerialLineSettings& line) {
    const SerialOpenStatus status = backend.OpenDevice(path);
    if (status != SerialOpenStatus::Ok) return Fail(backend, path, FromOpenStatus(status), "open");
    // Nothing stale can be queued on a port that was just opened; a refused purge is no reason to
    // give the port up.
    backend.Purge();
    if (!backend.SetHandshakeTimeouts()) return Fail(backend, path, CSerial::OpenError::LineSettings, "handshake time-outs");
    if (!backend.SetLine(line)) return Fail(backend, path, CSerial::OpenError::LineSettings, "line settings");
    return CSerial::OpenError::None;
}

bool ProbeForAnswer(CSerialBackend& backend, const CSerialProbe& probe, const std::vector<uint8_t>& request,
                    const std::atomic<bool>* stop) {
    if (request.empty()) return false;
    if (backend.Write(request.data(), static_cast<uint32_t>(request.size())).status != SerialWriteResult::Status::Done) {
        const std::string reason = backend.LastErrorText();
        Trace(L"[CSerial] the handshake request could not be written: %ls\r\n", Utf8ToWide(reason).c_str());
        return false;
    }

    std::array<uint8_t, SERIAL_READ_CHUNK> answer{};
    const int capacity = static_cast<int>(answer.size());
    const uint32_t startMs = GetTickCountMs();
    int got = 0;
    if (stop == nullptr) {
        got = backend.Read(answer.data(), capacity);
        if (got < 0) return false;
        got = std::min(got, capacity);
    }
    while (got < capacity && !probe.IsAnswer(answer.data(), got)) {
        if (stop != nullptr && stop->load()) return false;
        const uint32_t waitedMs = GetTickCountMs() - startMs;
        if (waitedMs >= kSerialHandshakeWaitMs) break;
        uint32_t waitMs = kSerialHandshakeWaitMs - waitedMs;
        if (stop != nullptr) waitMs = std::min(waitMs, kStopLookMs);
        const int count = backend.ReadAvailable(answer.data() + got, capacity - got, waitMs);
        if (count < 0) break;
        // Without a stop flag the first read has had the whole wait; a quiet slice only ends the probe
        // when the wait is over.
        if (count == 0 && stop == nullptr) break;
        got += std::min(count, capacity - got);
    }
    return probe.IsAnswer(answer.data(), got);
}
