// CAutoThread: a restartable worker thread with a cooperative stop flag.
//
// A derived class supplies Run(), which must test IsStopping() at the top of every pass and see a stop
// request within the stop wait. Start() stops any running thread first, so one object has at most one
// thread. Stop() returns within the stop wait: a thread that has not ended by then cannot be killed
// safely in a portable build, so it is detached and abandoned (said through Trace); its exit code
// reads -1. Start/Stop/Terminate are called by one controlling thread at a time; IsStopping may be
// called from any thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <thread>

class CAutoThread {
public:
    explicit CAutoThread(uint32_t stopWaitMs);
    virtual ~CAutoThread();
    CAutoThread(const CAutoThread&) = delete;
    CAutoThread& operator=(const CAutoThread&) = delete;

    // Stops a running thread, then starts a new one. True when a thread exists afterwards.
    bool Start();
    // Requests the stop and waits up to the stop wait; true when no thread remains (always).
    bool Stop();
    // Abandons the thread at once (detached, exit code -1). False when there was no thread.
    bool Terminate();

    // 1 when a stop was requested. An abandoned thread always reads 1, even after a new thread
    // started on this object, so it never runs beside its successor.
    int IsStopping() const;
    bool IsRunning() const { return thread_ != nullptr; }
    // Identifier of the current (or last) thread; every Start gives a new one.
    uint32_t GetThreadId() const { return threadId_.load(); }
    int GetExitCode() const;
    uint32_t StopWaitMs() const { return stopWaitMs_; }

protected:
    virtual int Run() = 0;

private:
    struct ThreadState;
    void Abandon();

    std::atomic<int> stopFlag_{1};
    std::unique_ptr<std::thread> thread_;
    std::shared_ptr<ThreadState> state_;
    std::atomic<uint32_t> threadId_{0};

    const uint32_t stopWaitMs_;
};
