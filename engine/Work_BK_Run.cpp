// An update run: its start, the step record, the job that queues an image, and its failure.
#include "engine/Work_BK.h"

#include "engine/CommandSteps.h"
#include "engine/DealMsg.h"
#include "engine/frame/Trace.h"

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
