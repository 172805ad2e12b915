// An update run: its start, the step record, the job that queues an image, and its failure.
#include "engine/Work_BK.h"

#include <chrono>

#include "engine/DealMsg.h"
#include "base/Trace.h"

void CWork_BK::StartUpdateRun() {
    CDealMsg* driverObject = CDealMsg::Instance();
    if (driverObject == nullptr) return;
    CDealMsg& driver = *driverObject;
    runsStarted_.fetch_add(1);
    ResetRunRecord();
    turnaround_.Reset();
    answerTime_.Reset();
    runActive_.store(1);
    // The files are read again now: the run sends what the folder holds at this moment, not what it
    // held when the device was found. From here on the images are in memory, so a file that changes
    // during the run does not change what the device gets.
    LoadImages();
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
    if (SettingsPending()) {
        driver.WriteSettings();
        return;
    }
    // Nothing to send: the run ends at once, so the window does not wait for ever, and it is no
    // success, since the device got nothing.
    Trace(L"[CWork_BK] no update file and no settings to write; run ended\r\n");
    {
        std::lock_guard<std::mutex> lock(recordMutex_);
        failureReason_ = L"файлы обновления не найдены в папке " + toolFolder_;
    }
    runFailed_.store(1);
    runActive_.store(0);
    SelectStep(StepFinished);
    NotifyStepEnd(1);
}

void CWork_BK::SelectStep(int step) {
    const int total = step == StepSettings ? 1 : PacketsToSend(step);
    stepSent_.store(0);
    stepResult_.store(0);
    stepTotal_.store(total);
    currentStep_.store(step);
}

void CWork_BK::PostJob(int step) {
    // Set before the job runs: the device may close its line as soon as it has confirmed the end.
    if (step == kFirmwarePauseJob) awaitingRestart_.store(true);
    jobWorker_.PostJob(step);
}

void CWork_BK::ResetRunRecord() {
    {
        std::lock_guard<std::mutex> lock(recordMutex_);
        failureReason_.clear();
    }
    postedJobs_.store(0);
    for (std::atomic<int>& accepted : acceptedPackets_) accepted.store(0);
    closedImages_.store(0);
    sendingStep_.store(StepNone);
    firmwareEndStatus_.store(-1);
    dropTraced_.store(false);
    awaitingRestart_.store(false);
    restartLineLost_.store(false);
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
    if (RunFailed() || !RunActive()) return 0;
    const auto start = std::chrono::steady_clock::now();
    for (;;) {
        const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
        const uint32_t left = elapsed.count() >= pauseMs ? 0 : pauseMs - static_cast<uint32_t>(elapsed.count());
        // Once a second, on the second: the front ends show whole seconds left.
        NotifyWait(left, pauseMs);
        if (left == 0) {
            // The frame after the pause answers the firmware's end after a wait the device asked for:
            // that is no turnaround of the tool's.
            turnaround_.Forget();
            return 1;
        }
        const uint32_t slice = left % 1000 == 0 ? 1000 : left % 1000;
        std::unique_lock<std::mutex> lock(pauseMutex_);
        // The run's end counts too: a stop that came before this job started has no generation to
        // change any more.
        if (pauseWake_.wait_for(lock, std::chrono::milliseconds(slice), [&] {
                return pauseGeneration_.load() != generation || RunFailed() || !RunActive();
            }))
            return 0;
    }
}

void CWork_BK::EndPause() {
    {
        std::lock_guard<std::mutex> lock(pauseMutex_);
        pauseGeneration_.fetch_add(1);
    }
    pauseWake_.notify_all();
}

void CWork_BK::RunJob(int step) {
    // At process exit the protocol driver may already be gone while a job still runs.
    CDealMsg* driverObject = CDealMsg::Instance();
    if (driverObject == nullptr) return;
    CDealMsg& driver = *driverObject;
    if (step == kRefreshJob) {
        RefreshWhenQuiet();
        return;
    }
    if (step == kFirmwarePauseJob) {
        // The device needs this time to take the new firmware before the next image; it may restart
        // meanwhile and come back a little later.
        const int generation = pauseGeneration_.load();
        const auto deadline = std::chrono::steady_clock::now() +
                              std::chrono::milliseconds(uint64_t{Options().firmwarePauseMs} + kRestartGraceMs);
        if (FirmwarePause() && RunActive() && !RunFailed()) ContinueAfterFirmware(driver, generation, deadline);
        awaitingRestart_.store(false);
        restartLineLost_.store(false);
        return;
    }
    if (step == kEndSettleJob) {
        RunEndSettle(settlingStep_.load());
        return;
    }
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
    // One run has one end: a second failure (a refusal racing the no-answer report, a surplus answer
    // after a refusal) is traced, and the first reason stands.
    {
        std::lock_guard<std::mutex> lock(recordMutex_);
        if (runFailed_.load() != 0) {
            Trace(L"[CWork_BK] the run has failed already; not reported again: %ls\r\n", reason.c_str());
            return;
        }
        failureReason_ = reason;
        // Set before the queue is emptied: AddTask checks it under the queue lock, so no frame of the
        // failed run can slip in after the clear.
        runFailed_.store(1);
    }
    ClearTasks();
    // A firmware pause in progress has nothing left to wait for.
    EndPause();
    // Late answers of the failed run must not start further images.
    runActive_.store(0);
    SelectStep(step);
    NotifyStepEnd(1);
    SelectStep(StepFinished);
    NotifyStepEnd(1);
}
