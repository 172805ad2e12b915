#include "transport/JobWorker.h"

#include <chrono>
#include <exception>
#include <system_error>
#include <utility>

#include "base/Trace.h"
#include "transport/TickCount.h"

CJobWorker::CJobWorker() { wake_.Create(nullptr, false, false); }

CJobWorker::~CJobWorker() {
    if (OnWorkerThread()) {
        // Misuse: nothing can wait for this thread any more. Detach rather than abort the process.
        Trace(L"[CJobWorker] destroyed from inside its own job\r\n");
        stop_.store(true);
        std::lock_guard<std::mutex> control(control_);
        if (worker_.joinable()) worker_.detach();
        return;
    }
    Stop();
}

void CJobWorker::SetJobFunction(JobFunction run) {
    CLockGuard guard(lock_);
    run_ = std::move(run);
}

bool CJobWorker::OnWorkerThread() const { return workerId_.load() == std::this_thread::get_id(); }

int CJobWorker::Start() {
    if (OnWorkerThread()) return stop_.load() ? 0 : 1;
    std::lock_guard<std::mutex> control(control_);
    if (worker_.joinable()) {
        if (!stop_.load() && alive_.load()) return 1;
        // A worker told to stop from inside a job, or one that ended: collect it before the next.
        worker_.join();
    }
    stop_.store(false);
    alive_.store(true);
    try {
        worker_ = std::thread([this] { Loop(); });
    } catch (const std::system_error& error) {
        alive_.store(false);
        Trace(L"[CJobWorker] the worker thread could not be started: %hs\r\n", error.what());
        return 0;
    }
    workerId_.store(worker_.get_id());
    return 1;
}

void CJobWorker::PostJob(int step) {
    {
        std::lock_guard<std::mutex> idle(idleMutex_);
        ++outstanding_;
    }
    lock_.Enter();
    jobs_.push_back(step);
    lock_.Leave();
    wake_.Set();
}

void CJobWorker::Stop() {
    stop_.store(true);
    wake_.Set();
    if (OnWorkerThread()) return;
    std::lock_guard<std::mutex> control(control_);
    if (worker_.joinable()) worker_.join();
    workerId_.store(std::thread::id());
    alive_.store(false);
}

bool CJobWorker::WaitIdle(uint32_t timeoutMs) {
    if (OnWorkerThread()) return false;
    std::unique_lock<std::mutex> idle(idleMutex_);
    // A stopped worker runs nothing more; the numbers it left queued wait for the next Start.
    return idle_.wait_for(idle, std::chrono::milliseconds(timeoutMs),
                          [this] { return outstanding_ == 0 || !alive_.load(); });
}

void CJobWorker::JobDone() {
    {
        std::lock_guard<std::mutex> idle(idleMutex_);
        --outstanding_;
    }
    idle_.notify_all();
}

bool CJobWorker::IsRunning() const { return alive_.load() && !stop_.load(); }

int CJobWorker::PendingJobs() const {
    CLockGuard guard(lock_);
    return static_cast<int>(jobs_.size());
}

bool CJobWorker::TakeJob(int& step, JobFunction& run) {
    CLockGuard guard(lock_);
    if (jobs_.empty()) return false;
    step = jobs_.front();
    jobs_.pop_front();
    run = run_;
    return true;
}

void CJobWorker::Loop() {
    // Start stores the identifier only after the thread exists; a job that asks OnWorkerThread()
    // must see it already, so the worker records it itself as well.
    workerId_.store(std::this_thread::get_id());
    while (!stop_.load()) {
        wake_.Wait(INFINITE_WAIT);
        int step = 0;
        JobFunction run;
        while (!stop_.load() && TakeJob(step, run)) {
            if (!run) {
                JobDone();
                continue;
            }
            try {
                run(step);
            } catch (const std::exception& error) {
                Trace(L"[CJobWorker] job %d failed: %hs\r\n", step, error.what());
            } catch (...) {
                Trace(L"[CJobWorker] job %d failed\r\n", step);
            }
            JobDone();
        }
    }
    {
        // Under the idle mutex, so that a waiter between its test and its wait sees the end.
        std::lock_guard<std::mutex> idle(idleMutex_);
        alive_.store(false);
    }
    idle_.notify_all();
}
