// An update run: its start, the step record, the job that queues an image, and its failure.
#include "engine/Work_BK.h"

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
    for (const ImageRow& row : ImageRows()) {
        const ImageLoadStatus status = ImageStatus(row.step);
        if (status.state == ImageState::Refused) {
            Trace(L"[CWork_BK] image of step %d refused: %ls; run ended\r\n", row.step, status.reason.c_str());
            FailRun(row.step, status.reason);
            return;
        }
    }
    for (const ImageRow& row : ImageRows()) {
        if (PacketCount(row.step) > 0) {
            driver.SendImageStart(row.step);
            return;
        }
    }
    if (SettingsPending())
        driver.WriteSettings();
    else {
        // Nothing to send: end the run at once, so the window does not wait for ever.
        SelectStep(StepFinished);
        NotifyStepEnd(0);
    }
}

void CWork_BK::SelectStep(int step) {
    const int total = step == StepSettings ? 1 : PacketCount(step);
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
    if (ImageByStep(step) == nullptr) return 0;
    const uint32_t bit = 1u << step;
    return (postedJobs_.fetch_or(bit) & bit) == 0 ? 1 : 0;
}

bool CWork_BK::JobPosted(int step) const {
    if (ImageByStep(step) == nullptr) return false;
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
    const ImageRow* row = ImageByStep(step);
    if (row == nullptr) return;
    int queued = 1;
    {
        // The images must not be emptied under the packet loop (engine stop). Released before any
        // message goes to the window, whose thread may be the one waiting to stop the engine.
        std::lock_guard<std::mutex> images(imagesMutex_);
        queued = driver.SendImagePackets(step);
    }
    // A firmware file that does not start with its load address cannot be placed: end the run. (A
    // data or radar image queues nothing only when the run has already failed.)
    if (!queued && !RunFailed() && row->reader == ImageReaderKind::Hex) {
        Trace(L"Project image has no leading extended-address record; run ended\r\n");
        FailRun(row->step, L"прошивка не начинается с записи адреса загрузки (тип 04)");
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
