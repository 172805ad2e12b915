// The engine's job worker: order, draining, one worker thread, and stopping (also from inside a job).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <mutex>
#include <set>
#include <stdexcept>
#include <thread>
#include <vector>

#include "support/TestSupport.h"
#include "transport/JobWorker.h"

namespace {

using testsupport::NeverWithin;
using testsupport::ScaledMs;
using testsupport::WaitUntil;
using Steps = std::vector<int>;

constexpr int kWaitMs = 2000;  // a guard, scaled where it is used

// Records the steps the worker ran and the threads it ran them on.
class Recorder {
public:
    void Add(int step) {
        std::lock_guard<std::mutex> lock(mutex_);
        steps_.push_back(step);
        threads_.insert(std::this_thread::get_id());
    }
    Steps Ran() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return steps_;
    }
    std::set<std::thread::id> Threads() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return threads_;
    }

private:
    mutable std::mutex mutex_;
    Steps steps_;
    std::set<std::thread::id> threads_;
};

// Start and Stop must return; a deadlock would hang the test silently, so end the run loudly.
template <typename Call>
auto ReturnsOrDie(Call call, const char* what) {
    auto done = std::async(std::launch::async, call);
    if (done.wait_for(std::chrono::milliseconds(ScaledMs(kWaitMs))) != std::future_status::ready) {
        std::fprintf(stderr, "%s did not return\n", what);
        std::_Exit(1);
    }
    return done.get();
}

void StopOrDie(CJobWorker& worker) { ReturnsOrDie([&worker] { worker.Stop(); }, "CJobWorker::Stop"); }

TEST(JobWorkerTest, AllPostsRunInOrderOnOneThreadEvenWhenPostedTogether) {
    testsupport::TraceCapture trace;
    Recorder recorder;
    std::atomic<bool> release{false};
    CJobWorker worker;
    worker.SetJobFunction([&](int step) {
        if (step == 1) WaitUntil([&] { return release.load(); }, kWaitMs);
        if (step == 3) throw std::runtime_error("image missing");
        recorder.Add(step);
    });
    // Posted before the worker exists, then while it is busy: each batch is one wake-up.
    worker.PostJob(1);
    worker.PostJob(2);
    EXPECT_EQ(worker.PendingJobs(), 2);
    ASSERT_EQ(worker.Start(), 1);
    ASSERT_TRUE(WaitUntil([&] { return worker.PendingJobs() == 1; }, kWaitMs));
    for (int step : {3, 4, 5, 0, 7, -1}) worker.PostJob(step);  // the job function decides what a number means
    release = true;
    ASSERT_TRUE(WaitUntil([&] { return recorder.Ran().size() == 7; }, kWaitMs));
    EXPECT_EQ(recorder.Ran(), (Steps{1, 2, 4, 5, 0, 7, -1}));
    EXPECT_TRUE(trace.Contains(L"job 3 failed: image missing"));
    ASSERT_EQ(recorder.Threads().size(), 1u);
    EXPECT_NE(*recorder.Threads().begin(), std::this_thread::get_id());
    StopOrDie(worker);
}

TEST(JobWorkerTest, StartingAgainKeepsTheOneWorker) {
    Recorder recorder;
    std::atomic<int> startFromJob{-1};
    CJobWorker worker;
    StopOrDie(worker);  // never started: nothing to do
    worker.SetJobFunction([&](int step) {
        if (step == 0) startFromJob = worker.Start();
        recorder.Add(step);
    });
    ASSERT_EQ(worker.Start(), 1);
    ASSERT_EQ(ReturnsOrDie([&worker] { return worker.Start(); }, "a second CJobWorker::Start"), 1);
    EXPECT_TRUE(worker.IsRunning());
    for (int step = 0; step < 20; ++step) worker.PostJob(step);
    ASSERT_TRUE(WaitUntil([&] { return recorder.Ran().size() == 20; }, kWaitMs));
    EXPECT_EQ(startFromJob.load(), 1);
    EXPECT_EQ(recorder.Threads().size(), 1u);

    StopOrDie(worker);
    EXPECT_FALSE(worker.IsRunning());
    ASSERT_EQ(worker.Start(), 1);
    worker.PostJob(99);
    ASSERT_TRUE(WaitUntil([&] { return recorder.Ran().size() == 21; }, kWaitMs));
}  // the destructor stops and joins the waiting worker

TEST(JobWorkerTest, StopWaitsForTheJobInProgressAndRunsNoMore) {
    Recorder recorder;
    std::atomic<bool> started{false};
    std::atomic<bool> release{false};
    CJobWorker worker;
    worker.SetJobFunction([&](int step) {
        started = true;
        WaitUntil([&] { return release.load(); }, kWaitMs);
        recorder.Add(step);
    });
    ASSERT_EQ(worker.Start(), 1);
    worker.PostJob(1);
    worker.PostJob(2);
    ASSERT_TRUE(WaitUntil([&] { return started.load(); }, kWaitMs));
    std::atomic<bool> stopReturned{false};
    std::thread stopper([&] {
        worker.Stop();
        stopReturned = true;
    });
    EXPECT_TRUE(NeverWithin([&] { return stopReturned.load(); }, 50)) << "Stop returned while a job was held";
    release = true;
    const bool returned = WaitUntil([&] { return stopReturned.load(); }, kWaitMs);
    if (!returned) {
        std::fprintf(stderr, "CJobWorker::Stop did not return after the job ended\n");
        std::_Exit(1);
    }
    stopper.join();
    EXPECT_EQ(recorder.Ran(), (Steps{1}));
    EXPECT_EQ(worker.PendingJobs(), 1);
    EXPECT_FALSE(worker.IsRunning());
}

TEST(JobWorkerTest, StopFromInsideAJobReturnsAndEndsTheWorker) {
    Recorder recorder;
    std::atomic<bool> stopReturned{false};
    CJobWorker worker;
    worker.SetJobFunction([&](int step) {
        recorder.Add(step);
        if (step == 1) {
            worker.Stop();
            stopReturned = true;
        }
    });
    ASSERT_EQ(worker.Start(), 1);
    worker.PostJob(1);
    worker.PostJob(2);
    if (!WaitUntil([&] { return stopReturned.load(); }, kWaitMs)) {
        std::fprintf(stderr, "CJobWorker::Stop inside a job did not return\n");
        std::_Exit(1);
    }
    EXPECT_FALSE(worker.IsRunning());
    EXPECT_TRUE(NeverWithin([&] { return recorder.Ran().size() > 1; }, 200));
    StopOrDie(worker);  // the controlling thread collects the ended worker
    EXPECT_EQ(worker.PendingJobs(), 1);
}

TEST(JobWorkerTest, WaitIdleReturnsOnceEveryPostedJobHasRun) {
    Recorder recorder;
    std::atomic<bool> release{false};
    std::atomic<bool> idleInsideJob{true};
    CJobWorker worker;
    worker.SetJobFunction([&](int step) {
        idleInsideJob = worker.WaitIdle(static_cast<uint32_t>(ScaledMs(kWaitMs)));
        WaitUntil([&] { return release.load(); }, kWaitMs);
        recorder.Add(step);
    });
    EXPECT_TRUE(worker.WaitIdle(0)) << "nothing posted";
    ASSERT_EQ(worker.Start(), 1);
    worker.PostJob(1);
    worker.PostJob(2);
    EXPECT_FALSE(worker.WaitIdle(50)) << "a job is held";
    release = true;
    EXPECT_TRUE(ReturnsOrDie([&] { return worker.WaitIdle(static_cast<uint32_t>(ScaledMs(kWaitMs))); },
                             "CJobWorker::WaitIdle"));
    EXPECT_EQ(recorder.Ran(), (Steps{1, 2}));
    EXPECT_FALSE(idleInsideJob.load()) << "a job cannot wait for itself";
    StopOrDie(worker);
}

}  // namespace
