// The connect procedure: the images are loaded, then the ports scanned until a device answers; and
// the stop that undoes it.
#include "engine/Work_BK.h"

#include "engine/frame/Trace.h"
#include "transport/PortList.h"

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
    previous.join();
}

void CWork_BK::LoadImages() {
    const std::wstring folder = ToolFolder();
    // A missing or unreadable file leaves its image empty; the run skips that step.
    std::lock_guard<std::mutex> images(imagesMutex_);
    const std::span<const ImageRow> rows = ImageRows();
    for (size_t i = 0; i < rows.size(); ++i) images_[i].Load((folder + rows[i].fileName).c_str());
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
    }

    std::vector<std::pair<std::string, CSerial::OpenError>> report;
    bool found = false;
    const uint32_t limit = portLimit_.load();
    for (uint32_t port = 1; port < limit && port <= 255; ++port) {
        if (scanAbort_.load()) break;
        int opened = 0;
        {
            std::lock_guard<std::mutex> lock(portMutex_);
            opened = serial_.Open(static_cast<uint8_t>(port), baudRate_.load(), kByteSize, SERIAL_PARITY_NONE,
                                  SERIAL_ONE_STOP_BIT);
        }
        const std::string name = serial_.LastPortName();
        if (!name.empty())
            report.emplace_back(name, opened ? CSerial::OpenError::None : serial_.LastOpenError());
        if (opened) {
            found = true;
            break;
        }
    }
    {
        std::lock_guard<std::mutex> lock(recordMutex_);
        scanReport_ = report;
    }
    if (!found) {
        StopTransport();
        connectState_.store(ConnectState::NoDevice);
        return 0;
    }
    // A line lost right after it opened has already said so; that stands.
    ConnectState scanning = ConnectState::Scanning;
    connectState_.compare_exchange_strong(scanning, ConnectState::Connected);
    return 0;
}

void CWork_BK::StopEngine() {
    JoinConnectThread();
    StopTransport();
}

void CWork_BK::StopTransport() {
    // A reader thread waiting in the firmware pause must see the stop at once.
    {
        std::lock_guard<std::mutex> lock(pauseMutex_);
        pauseGeneration_.fetch_add(1);
    }
    pauseWake_.notify_all();
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
    }
    StopSender();
}
