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

bool CWork_BK::ScanPorts(std::vector<std::pair<std::string, PortSeen>>& seen, uint32_t reprobeMs) {
    ScanReport report;
    bool found = false;
    const uint32_t limit = portLimit_.load();
    for (uint32_t port = 1; port < limit && port <= 255; ++port) {
        if (scanAbort_.load()) break;
        // Port lists have no gaps: past the last path there is nothing more to look at.
        const std::string path = PortPath(port);
        if (path.empty()) break;
        auto it = std::find_if(seen.begin(), seen.end(), [&](const auto& entry) { return entry.first == path; });
        if (it == seen.end()) it = seen.insert(seen.end(), {path, PortSeen{}});
        PortSeen& record = it->second;
        const uint32_t now = GetTickCountMs();
        // A port that was there and did not answer is some other serial device (or one that is busy):
        // probing it on every look would flood it. A new or reappeared port is tried at once.
        const bool fresh = record.probedAt == 0 || record.error == CSerial::OpenError::Missing;
        if (!fresh && now - record.probedAt < reprobeMs) {
            report.emplace_back(path, FindingOf(record.error));
            continue;
        }
        int opened = 0;
        {
            std::lock_guard<std::mutex> lock(portMutex_);
            opened = serial_.Open(static_cast<uint8_t>(port), baudRate_.load(), kByteSize, SERIAL_PARITY_NONE,
                                  SERIAL_ONE_STOP_BIT);
        }
        record.error = opened ? CSerial::OpenError::None : serial_.LastOpenError();
        record.probedAt = now == 0 ? 1 : now;
        const std::string name = serial_.LastPortName();
        if (!name.empty()) report.emplace_back(name, FindingOf(record.error));
        if (opened) {
            found = true;
            break;
        }
    }
    std::lock_guard<std::mutex> lock(recordMutex_);
    scanReport_ = report;
    return found;
}

bool CWork_BK::ConnectWait(uint32_t ms, bool untilLost) {
    std::unique_lock<std::mutex> lock(scanWakeMutex_);
    auto done = [&] { return scanAbort_.load() || (untilLost && connectState_.load() == ConnectState::LineLost); };
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
