#include "engine/Work_BK.h"

#include <algorithm>
#include <cstring>

#include "engine/DealMsg.h"
#include "engine/Trace.h"
#include "engine/TrafficLog.h"
#include "transport/PortList.h"

// The one engine of the process.
static CWork_BK g_engine;

namespace {

const wchar_t* const kProjectFile = L"AC7811_project.hex";
const wchar_t* const kEDogFile = L"flagdata.bin";
const wchar_t* const kMusicFile = L"audioHead.bin";
const wchar_t* const kPicFile = L"picHead.bin";
const wchar_t* const kRadarFile = L"rdfwd.bin";

constexpr uint32_t kReaderPauseMs = 10;
constexpr uint8_t kByteSize = 8;

bool IsEndCommand(uint8_t cmd) {
    return cmd == CMD_EDOG_END || cmd == CMD_MUSIC_END || cmd == CMD_PIC_END || cmd == CMD_RADAR_END;
}

int StepOfEndCommand(uint8_t cmd) {
    switch (cmd) {
        case CMD_EDOG_END: return StepEDog;
        case CMD_MUSIC_END: return StepMusic;
        case CMD_PIC_END: return StepPic;
        default: return StepRadar;
    }
}

// The step a queued command belongs to, for a run that has to be ended because it went unanswered;
// StepNone for the connect-time commands, which belong to no run.
int StepOfCommand(uint8_t cmd) {
    switch (cmd) {
        case CMD_FIRMWARE_START: case CMD_FIRMWARE_DATA: case CMD_FIRMWARE_END: return StepProject;
        case CMD_EDOG_START: case CMD_EDOG_PACKET: case CMD_EDOG_END: return StepEDog;
        case CMD_MUSIC_START: case CMD_MUSIC_PACKET: case CMD_MUSIC_END: return StepMusic;
        case CMD_PIC_START: case CMD_PIC_PACKET: case CMD_PIC_END: return StepPic;
        case CMD_RADAR_START: case CMD_RADAR_PACKET: case CMD_RADAR_END: return StepRadar;
        case CMD_WRITE_SETTINGS: return StepSettings;
        default: return StepNone;
    }
}

}  // namespace

CWork_BK::CWork_BK()
    : serial_(nullptr, 0, kReaderPauseMs),
      project_(kImageParam1, kImageParam2, kImageParam3, kImageParam4),
      edog_(kImageParam1, kImageParam2, kImageParam3, kImageParam4),
      music_(kImageParam1, kImageParam2, kImageParam3, kImageParam4),
      pic_(kImageParam1, kImageParam2, kImageParam3, kImageParam4),
      radar_(kImageParam1, kImageParam2, kImageParam3, kImageParam4) {
    serial_.SetOpenHook(this);
    jobWorker_.SetJobFunction([this](int step) { RunJob(step); });
}

CWork_BK::~CWork_BK() {
    JoinConnectThread();
    StopEngine();
    jobWorker_.Stop();
}

namespace {
// True while this thread delivers an engine message (a handler may replace the window itself).
thread_local bool t_inNotify = false;
}  // namespace

void CWork_BK::SetNotifyWindow(NotifyHandle window) {
    std::unique_lock<std::mutex> lock(notifyMutex_);
    notifyWindow_ = window;
    if (!t_inNotify) notifyIdle_.wait(lock, [this] { return notifyInFlight_ == 0; });
}

bool CWork_BK::SendToWindow(uint32_t message, NotifyWParam wParam, NotifyLParam lParam) {
    NotifyHandle window;
    {
        std::lock_guard<std::mutex> lock(notifyMutex_);
        window = notifyWindow_;
        if (window == nullptr) return false;
        ++notifyInFlight_;
    }
    const bool outer = !t_inNotify;
    t_inNotify = true;
    window->Send(message, wParam, lParam);
    if (outer) t_inNotify = false;
    {
        std::lock_guard<std::mutex> lock(notifyMutex_);
        --notifyInFlight_;
    }
    notifyIdle_.notify_all();
    return true;
}

void CWork_BK::SetOptions(const EngineOptions& options) {
    {
        std::lock_guard<std::mutex> lock(recordMutex_);
        options_ = options;
    }
    SetWaitSliceMs(options.waitSliceMs);
    SetNoAnswerSlices(options.noAnswerSlices);
}

EngineOptions CWork_BK::Options() const {
    std::lock_guard<std::mutex> lock(recordMutex_);
    return options_;
}

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
    project_.Load((folder + kProjectFile).c_str());
    edog_.Load((folder + kEDogFile).c_str());
    music_.Load((folder + kMusicFile).c_str());
    pic_.Load((folder + kPicFile).c_str());
    radar_.Load((folder + kRadarFile).c_str());
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
        project_.Clear();
        edog_.Clear();
        music_.Clear();
        pic_.Clear();
        radar_.Clear();
    }
    StopSender();
}

void CWork_BK::StartUpdateRun() {
    CDealMsg* driverObject = CDealMsg::Instance();
    if (driverObject == nullptr) return;
    CDealMsg& driver = *driverObject;
    ResetRunRecord();
    runActive_.store(1);
    // A damaged or unusable file refuses the whole run before anything is sent: the device must never
    // get half an image, nor the other images without the one the user expects.
    for (int step = StepProject; step <= StepRadar; ++step) {
        const ImageLoadStatus status = ImageStatus(step);
        if (status.state == ImageState::Refused) {
            Trace(L"[CWork_BK] image of step %d refused: %ls; run ended\r\n", step, status.reason.c_str());
            FailRun(step, status.reason);
            return;
        }
    }
    if (ProjectPacketCount() > 0)
        driver.SendProjectStart();
    else if (EDogPacketCount() > 0)
        driver.SendEDogStart();
    else if (MusicPacketCount() > 0)
        driver.SendMusicStart();
    else if (PicPacketCount() > 0)
        driver.SendPicStart();
    else if (RadarPacketCount() > 0)
        driver.SendRadarStart();
    else if (SettingsPending())
        driver.WriteSettings();
    else {
        // Nothing to send: end the run at once, so the window does not wait for ever.
        SelectStep(StepFinished);
        NotifyStepEnd(0);
    }
}

void CWork_BK::SelectStep(int step) {
    int total = 0;
    switch (step) {
        case StepProject: total = ProjectPacketCount(); break;
        case StepEDog: total = EDogPacketCount(); break;
        case StepMusic: total = MusicPacketCount(); break;
        case StepPic: total = PicPacketCount(); break;
        case StepRadar: total = RadarPacketCount(); break;
        case StepSettings: total = 1; break;
        default: break;
    }
    stepSent_.store(0);
    stepResult_.store(0);
    stepTotal_.store(total);
    currentStep_.store(step);
}

ImageLoadStatus CWork_BK::ImageStatus(int step) const {
    switch (step) {
        case StepProject: return project_.LoadStatus();
        case StepEDog: return edog_.LoadStatus();
        case StepMusic: return music_.LoadStatus();
        case StepPic: return pic_.LoadStatus();
        case StepRadar: return radar_.LoadStatus();
        default: return {};
    }
}

int CWork_BK::ProjectPacketCount() const { return project_.GetPacketCount(); }
int CWork_BK::EDogPacketCount() const { return edog_.GetPacketCount(); }
int CWork_BK::MusicPacketCount() const { return music_.GetPacketCount(); }
int CWork_BK::PicPacketCount() const { return pic_.GetPacketCount(); }
int CWork_BK::RadarPacketCount() const { return radar_.GetPacketCount(); }

void CWork_BK::GetSettingsBlock(uint8_t* dst) const {
    if (dst == nullptr) return;
    std::lock_guard<std::mutex> lock(settingsMutex_);
    std::memcpy(dst, settingsBlock_.data(), SETTINGS_BLOCK_SIZE);
}

void CWork_BK::GetSettingsInfoBlock(uint8_t* dst) const {
    if (dst == nullptr) return;
    std::lock_guard<std::mutex> lock(settingsMutex_);
    std::memcpy(dst, settingsInfoBlock_.data(), SETTINGS_BLOCK_SIZE);
}

void CWork_BK::SetSettingsBlock(const uint8_t* src) {
    if (src == nullptr) return;
    std::lock_guard<std::mutex> lock(settingsMutex_);
    std::memcpy(settingsToWrite_.data(), src, SETTINGS_BLOCK_SIZE);
}

void CWork_BK::GetSettingsToWrite(uint8_t* dst) const {
    if (dst == nullptr) return;
    std::lock_guard<std::mutex> lock(settingsMutex_);
    std::memcpy(dst, settingsToWrite_.data(), SETTINGS_BLOCK_SIZE);
}

void CWork_BK::StoreDeviceSettings(const uint8_t* src) {
    if (src == nullptr) return;
    std::lock_guard<std::mutex> lock(settingsMutex_);
    std::memcpy(settingsBlock_.data(), src, SETTINGS_BLOCK_SIZE);
}

void CWork_BK::SettingsWritten() {
    // Front ends compare their edited block with the device's to decide whether to write it again.
    std::lock_guard<std::mutex> lock(settingsMutex_);
    settingsBlock_ = settingsToWrite_;
}

void CWork_BK::SetSettingsInfoBlock(const uint8_t* src) {
    if (src == nullptr) return;
    std::lock_guard<std::mutex> lock(settingsMutex_);
    std::memcpy(settingsInfoBlock_.data(), src, SETTINGS_BLOCK_SIZE);
}

void CWork_BK::SetSettingsPending(int flag) { settingsPending_.store(flag); }

void CWork_BK::NotifyReady() { SendToWindow(WM_ENGINE_READY, 0, 0); }

void CWork_BK::NotifySettingsRead() { SendToWindow(WM_ENGINE_SETTINGS, 0, 0); }

void CWork_BK::NotifyStepBegin() {
    SendToWindow(WM_ENGINE_STEP_BEGIN, static_cast<NotifyWParam>(currentStep_.load()), stepTotal_.load());
}

void CWork_BK::NotifyPacketSent() {
    // Packets are counted only while a window is there to be told.
    if (!HasNotifyWindow()) return;
    const int sent = stepSent_.fetch_add(1) + 1;
    SendToWindow(WM_ENGINE_PACKET, static_cast<NotifyWParam>(stepTotal_.load()), sent);
}

void CWork_BK::NotifyStepEnd(int result) {
    stepResult_.store(result);
    SendToWindow(WM_ENGINE_STEP_END, static_cast<NotifyWParam>(currentStep_.load()), result);
}

bool CWork_BK::HasNotifyWindow() {
    std::lock_guard<std::mutex> lock(notifyMutex_);
    return notifyWindow_ != nullptr;
}

std::wstring CWork_BK::DeviceFirmwareVersion() const {
    std::lock_guard<std::mutex> lock(recordMutex_);
    return deviceFirmwareVersion_;
}

std::wstring CWork_BK::DeviceDataVersion() const {
    std::lock_guard<std::mutex> lock(recordMutex_);
    return deviceDataVersion_;
}

std::wstring CWork_BK::DeviceRadarVersion() const {
    std::lock_guard<std::mutex> lock(recordMutex_);
    return deviceRadarVersion_;
}

void CWork_BK::SetDeviceVersions(const std::wstring& firmware, const std::wstring& data,
                                 const std::wstring& radar) {
    std::lock_guard<std::mutex> lock(recordMutex_);
    deviceFirmwareVersion_ = firmware;
    deviceDataVersion_ = data;
    deviceRadarVersion_ = radar;
}

std::vector<std::pair<std::string, CSerial::OpenError>> CWork_BK::LastScanReport() const {
    std::lock_guard<std::mutex> lock(recordMutex_);
    return scanReport_;
}

std::wstring CWork_BK::ToolFolder() const {
    std::lock_guard<std::mutex> lock(recordMutex_);
    return toolFolder_;
}

void CWork_BK::PostJob(int step) { jobWorker_.PostJob(step); }

void CWork_BK::ResetRunRecord() {
    {
        std::lock_guard<std::mutex> lock(recordMutex_);
        failureReason_.clear();
    }
    postedJobs_.store(0);
    dropTraced_.store(false);
    runFailed_.store(0);
}

int CWork_BK::MarkJobPosted(int step) {
    if (step < StepProject || step > StepRadar) return 0;
    const uint32_t bit = 1u << step;
    return (postedJobs_.fetch_or(bit) & bit) == 0 ? 1 : 0;
}

bool CWork_BK::JobPosted(int step) const {
    if (step < StepProject || step > StepRadar) return false;
    return (postedJobs_.load() & (1u << step)) != 0;
}

int CWork_BK::FirmwarePause() {
    const uint32_t pauseMs = Options().firmwarePauseMs;
    const int generation = pauseGeneration_.load();
    std::unique_lock<std::mutex> lock(pauseMutex_);
    const bool stopped = pauseWake_.wait_for(lock, std::chrono::milliseconds(pauseMs),
                                             [&] { return pauseGeneration_.load() != generation; });
    return stopped ? 0 : 1;
}

void CWork_BK::RunJob(int step) {
    // At process exit the protocol driver may already be gone while a job still runs.
    CDealMsg* driverObject = CDealMsg::Instance();
    if (driverObject == nullptr) return;
    CDealMsg& driver = *driverObject;
    int queued = 1;
    {
        // The images must not be emptied under the packet loop (engine stop). Released before any
        // message goes to the window, whose thread may be the one waiting to stop the engine.
        std::lock_guard<std::mutex> images(imagesMutex_);
        switch (step) {
            case StepProject: queued = driver.SendProjectPackets(); break;
            case StepEDog: driver.SendEDogPackets(); break;
            case StepMusic: driver.SendMusicPackets(); break;
            case StepPic: driver.SendPicPackets(); break;
            case StepRadar: driver.SendRadarPackets(); break;
            default: break;
        }
    }
    // A firmware file that does not start with its load address cannot be placed: end the run.
    if (!queued && !RunFailed()) {
        Trace(L"Project image has no leading extended-address record; run ended\r\n");
        FailRun(StepProject, L"прошивка не начинается с записи адреса загрузки (тип 04)");
    }
}

int CWork_BK::QueuedRunStep() const {
    if (!RunActive()) return StepNone;
    return StepOfCommand(static_cast<uint8_t>(HeadCommand()));
}

std::wstring CWork_BK::FailureReason() const {
    std::lock_guard<std::mutex> lock(recordMutex_);
    return failureReason_;
}

void CWork_BK::FailRun(int step, const std::wstring& reason) {
    {
        std::lock_guard<std::mutex> lock(recordMutex_);
        failureReason_ = reason;
    }
    // Set before the queue is emptied: AddTask checks it under the queue lock, so no frame of the
    // failed run can slip in after the clear.
    runFailed_.store(1);
    ClearTasks();
    // Late answers of the failed run must not start further images.
    runActive_.store(0);
    SelectStep(step);
    NotifyStepEnd(1);
    SelectStep(StepFinished);
    NotifyStepEnd(1);
}

int CWork_BK::AddTask(const CPacket_ISP& task) {
    CMuTexGuard guard(*this);
    if (!guard.Locked()) return 0;
    if (RunFailed() && StepOfCommand(task.GetCmd()) != StepNone) {
        if (!dropTraced_.exchange(true))
            Trace(L"[CWork_BK] the run has failed; command %02X and the rest of the run are not sent\r\n",
                  task.GetCmd());
        return 0;
    }
    return CTaskManager::AddTask(task);
}

int CWork_BK::OnAnswer(int code) { return CTaskManager::OnAnswer(code & 0xFF); }

void CWork_BK::RestartCommandSender() { RestartSender(); }

void CWork_BK::RequestDeviceInfo(uint8_t port) {
    if (CDealMsg* driver = CDealMsg::Instance()) driver->RequestDeviceInfo(port);
}

int CWork_BK::WriteFrame(const uint8_t* bytes, int length) {
    if (bytes == nullptr || length <= 0) return 0;
    TrafficLogSent(bytes, length);
    const int written = serial_.IsOpen() ? serial_.Write(bytes, static_cast<uint32_t>(length)) : 0;
    if (!written && (serial_.LineFailed() || GetConnectState() == ConnectState::LineLost)) {
        // Nothing reached the device, so nothing is acknowledged here. While the port is still open the
        // loss report is ending the run; once it is closed, a run started on the dead line ends now
        // rather than after the no-answer slices.
        const int step = serial_.IsOpen() ? StepNone : QueuedRunStep();
        if (step != StepNone) FailRun(step, LineLostReason());
        return 0;
    }
    const uint8_t cmd = length > FRAME_OFFSET_CMD ? bytes[FRAME_OFFSET_CMD] : 0;
    if (cmd == CMD_ACK) {
        // The device never answers an acknowledgement; waiting for one would block the queue.
        OnAnswer(cmd);
    } else if (IsEndCommand(cmd)) {
        // The device never answers an image's end command, so acknowledge it here.
        OnAnswer(cmd);
        NotifyStepEnd(0);
        CDealMsg* driver = CDealMsg::Instance();
        if (RunActive() && driver != nullptr) driver->StartNextImage(StepOfEndCommand(cmd));
    }
    return written;
}

int CWork_BK::SendTask(const CPacket_ISP& task, int /*attemptsBefore*/) {
    WriteFrame(task.GetFrameData(), task.GetFrameSize());
    return 0;
}

bool CWork_BK::IsNoWaitTask(const CPacket_ISP& task) {
    const uint8_t cmd = task.GetCmd();
    return cmd == CMD_READ_SETTINGS || cmd == CMD_READ_SETTINGS_INFO;
}

void CWork_BK::OnNoAnswer(const CPacket_ISP& head) {
    const int step = StepOfCommand(head.GetCmd());
    Trace(L"[CWork_BK] no answer to command %02X; %ls\r\n", head.GetCmd(),
          step != StepNone && RunActive() ? L"run ended" : L"dropped");
    if (step == StepNone || !RunActive()) {
        ClearTasks();
        return;
    }
    FailRun(step, L"устройство перестало отвечать");
}
