// CJobWorker: the engine's job worker, one thread that runs transfer steps by number.
//
// PostJob appends a step number and wakes the worker; the worker runs every queued number, in order,
// through the job function. The wake event does not count signals, so each wake-up drains the whole
// list: numbers posted while a job runs, or before the worker woke, are never lost. What a number
// means is the job function's business (the engine runs its image steps and ignores the rest).
//
// Threads: PostJob, PendingJobs and IsRunning may be called from any thread, jobs included; WaitIdle
// from any thread but the worker's. Start and
// Stop are called by the controlling thread(s); Stop may also be called from inside a job, where it
// only requests the stop (a thread cannot join itself) and the worker ends when that job returns.
// The worker must not be destroyed from inside one of its own jobs.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

#include "transport/EventObject.h"
#include "transport/LockObject.h"

class CJobWorker {
public:
    using JobFunction = std::function<void(int step)>;

    CJobWorker();
    ~CJobWorker();  // Stop()
    CJobWorker(const CJobWorker&) = delete;
    CJobWorker& operator=(const CJobWorker&) = delete;

    // Set before Start; jobs taken while no function is set are dropped.
    void SetJobFunction(JobFunction run);
    // Starts the worker. While a worker runs (and no stop was requested) it stays the one worker.
    // A worker that is ending is joined first. 1 on success; 0 when the thread could not be created,
    // or when called from inside a job after a stop was requested.
    int Start();
    void PostJob(int step);
    // Requests the stop, wakes the worker and waits for it without limit: a job in progress finishes,
    // queued numbers stay queued (PendingJobs) and do not run.
    void Stop();
    // Waits at most timeoutMs until every posted number has run (or the worker has ended), so that
    // what the jobs read may be changed. True when idle; false after the time-out, or at once when
    // called from inside a job (a job cannot wait for itself).
    bool WaitIdle(uint32_t timeoutMs);
    // True from Start until the worker has been told to stop or has ended.
    bool IsRunning() const;
    int PendingJobs() const;

private:
    void Loop();
    // Takes the next number and the function to run it with; false when the list is empty.
    bool TakeJob(int& step, JobFunction& run);
    bool OnWorkerThread() const;
    // One posted number has been taken and run (or dropped): wakes WaitIdle.
    void JobDone();

    mutable CLockObject lock_;  // guards jobs_ and run_
    std::deque<int> jobs_;
    JobFunction run_;
    CEventObject wake_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> alive_{false};
    std::atomic<std::thread::id> workerId_{};
    std::mutex idleMutex_;  // guards outstanding_
    std::condition_variable idle_;
    int outstanding_ = 0;   // numbers posted and not yet run to the end
    std::mutex control_;  // serialises Start and Stop of controlling threads; guards worker_
    std::thread worker_;
};
