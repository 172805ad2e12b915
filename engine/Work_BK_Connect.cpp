// The connect procedure: the images are loaded, then the ports scanned until a device answers; and
// the stop that undoes it.
#include "engine/Work_BK.h"

#include <algorithm>
#include <chrono>

#include "base/Trace.h"
#include "transport/PortList.h"
#include "transport/TickCount.h"

namespace {

constexpr uint8_t kByteSize = 8;

}  // namespace

int CWork_BK::StartEngine(uint32_t portLimit, uint32_t baudRate, const std::wstring& toolFolder) {
    JoinConnectThread();
    portLimit_.store(portLimit);
    baudRate_.store(baudRate);
    {
        std::lock_guard<std::mutex> lock(recordMutex_);
        toolFolder_ = toolFolder;
    }
    connectState_.store(ConnectState::Scanning);
    scanAbort_.store(false);
    {
        std::lock_guard<std::mutex> lock(connectMutex_);
        try {
            connectThread_ = std::thread([this] { ConnectAndLoad(); });
        } catch (const std::system_error&) {
            connectState_.store(ConnectState::Idle);
            return 0;
        }
    }
    // A second start keeps the one job worker rather than leaving another running unjoined.
    return jobWorker_.Start();
}

void CWork_BK::JoinConnectThread() {
    std::thread previous;
    {
        std::lock_guard<std::mutex> lock(connectMutex_);
        if (!connectThread_.joinable()) return;
        if (connectThread_.get_id() == std::this_thread::get_id()) return;
        previous = std::move(connectThread_);
    }
    scanAbort_.store(true);
    WakeConnectThread();
    previous.join();
}

void CWork_BK::LoadImages() {
    const std::wstring folder = ToolFolder();
    // A missing or unreadable file leaves its image empty; the run skips that step.
    std::lock_guard<std::mutex> images(imagesMutex_);
    const std::span<const ImageRow> rows = ImageRows();
    for (size_t i = 0; i < rows.size(); ++i) images_[i].Load((folder + rows[i].fileName).c_str());
    CountPacketsToSend();
}

namespace {

// The port's reasons in the engine's terms, for the front ends.
PortFinding FindingOf(CSerial::OpenError error) {
    switch (error) {
        case CSerial::OpenError::None: return PortFinding::Answered;
        case CSerial::OpenError::Missing: return PortFinding::Missing;
        case CSerial::OpenError::PermissionDenied: return PortFinding::PermissionDenied;
        case CSerial::OpenError::Busy: return PortFinding::Busy;
        case CSerial::OpenError::LineSettings: return PortFinding::LineSettings;
        case CSerial::OpenError::NoAnswer: return PortFinding::NoAnswer;
        case CSerial::OpenError::Other: return PortFinding::Other;
    }
    return PortFinding::Other;
}

}  // namespace

namespace {

// A port that could not be opened was not touched (no modem line raised, nothing written): looking
// at it again now and then is harmless, and the program that holds it may have let go.
bool NeverOpened(CSerial::OpenError error) {
    return error == CSerial::OpenError::Busy || error == CSerial::OpenError::PermissionDenied ||
           error == CSerial::OpenError::Other;
}

}  // namespace

bool CWork_BK::ScanPorts(std::vector<std::pair<std::string, PortSeen>>& seen, uint32_t reprobeMs) {
    const std::vector<PortCandidate> candidates = SearchCandidates(portLimit_.load());
    auto recordOf = [&seen](const std::string& path) -> PortSeen& {
        auto it = std::find_if(seen.begin(), seen.end(), [&](const auto& entry) { return entry.first == path; });
        if (it == seen.end()) it = seen.insert(seen.end(), {path, PortSeen{}});
        return it->second;
    };
    // A port gone from the list is missing: when it comes back it is tried at once.
    for (auto& entry : seen) {
        const bool listed = std::any_of(candidates.begin(), candidates.end(),
                                        [&](const PortCandidate& candidate) { return candidate.path == entry.first; });
        if (!listed) entry.second.error = CSerial::OpenError::Missing;
    }
    const uint32_t now = GetTickCountMs();
    std::vector<PortCandidate> due;
    for (const PortCandidate& candidate : candidates) {
        const PortSeen& record = recordOf(candidate.path);
        const bool fresh = record.probedAt == 0 || record.error == CSerial::OpenError::Missing;
        const uint32_t sinceMs = now - record.probedAt;
        // A port that opened and did not answer is some other serial device: every probe raises its
        // DTR (which resets many boards) and writes a frame into it, so it is left alone unless the
        // user asked to go on probing it.
        const bool again = NeverOpened(record.error) ? sinceMs >= kRetryUnopenedMs : reprobeMs != 0 && sinceMs >= reprobeMs;
        if (fresh || again) due.push_back(candidate);
    }

    std::vector<std::pair<std::string, CSerial::OpenError>> tried;
    bool found = false;
    if (!due.empty() && !scanAbort_.load()) {
        std::lock_guard<std::mutex> lock(portMutex_);
        found = serial_.OpenFirstAnswering(due, baudRate_.load(), kByteSize, SERIAL_PARITY_NONE, SERIAL_ONE_STOP_BIT,
                                           scanAbort_, tried) != 0;
    }
    const uint32_t probedAt = now == 0 ? 1 : now;
    for (const auto& [path, error] : tried) {
        PortSeen& record = recordOf(path);
        record.error = error;
        record.probedAt = probedAt;
    }

    // The report lists the ports as a one-by-one scan would: in order, each with its latest finding,
    // up to the one that answered.
    ScanReport report;
    for (const PortCandidate& candidate : candidates) {
        const PortSeen& record = recordOf(candidate.path);
        if (record.probedAt == 0) continue;
        report.emplace_back(candidate.path, FindingOf(record.error));
        if (found && candidate.path == tried.back().first) break;
    }
    std::lock_guard<std::mutex> lock(recordMutex_);
    scanReport_ = report;
    return found;
}

bool CWork_BK::ConnectWait(uint32_t ms, bool untilLost) {
    std::unique_lock<std::mutex> lock(scanWakeMutex_);
    auto done = [&] {
        return scanAbort_.load() || (untilLost ? connectState_.load() == ConnectState::LineLost : searchAgain_.load());
    };
    if (ms == 0)
        scanWake_.wait(lock, done);
    else
        scanWake_.wait_for(lock, std::chrono::milliseconds(ms), done);
    return scanAbort_.load();
}

void CWork_BK::WakeConnectThread() {
    { std::lock_guard<std::mutex> lock(scanWakeMutex_); }
    scanWake_.notify_all();
}

int CWork_BK::ConnectAndLoad() {
    StopTransport();
    {
        std::lock_guard<std::mutex> lock(lineMutex_);
        lineLostReason_.clear();
    }
    connectState_.store(ConnectState::Scanning);
    serial_.SetReceiver(this);
    // The images are loaded and the settings block cleared before the device can answer, so that
    // "device ready" never comes before the images exist and a settings answer is never wiped.
    LoadImages();
    {
        std::lock_guard<std::mutex> lock(settingsMutex_);
        settingsBlock_.fill(0);
        deviceSettingsKnown_.store(false);
    }

    const EngineOptions options = Options();
    std::vector<std::pair<std::string, PortSeen>> seen;
    bool told = false;  // the front end knows that nothing answered
    for (;;) {
        if (searchAgain_.exchange(false)) {
            // The user asked: every port is new again, and the window hears "no device" once more.
            seen.clear();
            told = false;
        }
        if (ScanPorts(seen, options.reprobeMs)) {
            // A line lost right after it opened has already said so; that stands.
            ConnectState before = connectState_.load();
            if (before == ConnectState::Scanning || before == ConnectState::NoDevice || before == ConnectState::LineLost) {
                // The loss of the line that was just opened must not be taken for the old one.
                if (!serial_.LineFailed()) connectState_.compare_exchange_strong(before, ConnectState::Connected);
            }
            if (!options.keepScanning) return 0;
            if (ConnectWait(0, true)) return 0;
            // The lost port is closed before the ports are looked at again; every port is new now.
            {
                std::lock_guard<std::mutex> lock(portMutex_);
                if (serial_.LineFailed()) serial_.Close();
            }
            JoinLineCloser();
            seen.clear();
            told = true;  // the loss has been told; "no device" would hide its reason
            continue;
        }
        if (scanAbort_.load()) break;
        if (!options.keepScanning) {
            StopTransport();
            connectState_.store(ConnectState::NoDevice);
            NotifyConnect(ConnectState::NoDevice);
            return 0;
        }
        if (!told) {
            ConnectState scanning = ConnectState::Scanning;
            connectState_.compare_exchange_strong(scanning, ConnectState::NoDevice);
            NotifyConnect(ConnectState::NoDevice);
            told = true;
        }
        if (ConnectWait(options.rescanMs, false)) break;
    }
    return 0;
}

void CWork_BK::SearchAgain() {
    const ConnectState state = connectState_.load();
    if (state != ConnectState::NoDevice && state != ConnectState::LineLost) return;
    searchAgain_.store(true);
    WakeConnectThread();
}

void CWork_BK::StopEngine() {
    JoinConnectThread();
    StopTransport();
}

void CWork_BK::StopTransport() {
    // Without a line no run goes on; a firmware pause in progress, or one whose job has not started
    // yet, must see the stop at once.
    runActive_.store(0);
    EndPause();
    {
        std::lock_guard<std::mutex> lock(portMutex_);
        serial_.Close();
    }
    JoinLineCloser();
    // With the reader gone no step job is posted any more; one still queueing the packets of an
    // image (a run that failed at once) must be done with the images before they are emptied.
    if (!jobWorker_.WaitIdle(SERIAL_STOP_WAIT_MS)) Trace(L"[CWork_BK] a step job is still running at stop\r\n");
    {
        std::lock_guard<std::mutex> images(imagesMutex_);
        for (CImageReader& image : images_) image.Clear();
        CountPacketsToSend();
    }
    StopSender();
}
