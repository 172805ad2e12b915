#include "transport/AutoThread.h"

#include <chrono>
#include <condition_variable>
#include <mutex>

#include "base/Trace.h"

// Shared by the object and its thread, so an abandoned thread that ends late writes into memory that
// still exists.
struct CAutoThread::ThreadState {
    std::mutex mutex;
    std::condition_variable ended;
    bool done = false;
    int exitCode = -1;
    // Set when the object gives up waiting for this thread; the thread then always reads "stopping".
    std::atomic<bool> abandoned{false};
    const CAutoThread* owner = nullptr;
};

namespace {
std::atomic<uint32_t> g_nextThreadId{1};
// The state of the CAutoThread thread running on this OS thread (null on other threads).
thread_local const void* t_threadState = nullptr;
}

CAutoThread::CAutoThread(uint32_t stopWaitMs) : stopWaitMs_(stopWaitMs) {}

CAutoThread::~CAutoThread() { Stop(); }

bool CAutoThread::Start() {
    Stop();
    if (thread_) return true;
    stopFlag_.store(0, std::memory_order_release);
    auto state = std::make_shared<ThreadState>();
    state->owner = this;
    try {
        thread_ = std::make_unique<std::thread>([this, state] {
            t_threadState = state.get();
            const int code = Run();
            std::lock_guard<std::mutex> lock(state->mutex);
            state->exitCode = code;
            state->done = true;
            state->ended.notify_all();
        });
    } catch (const std::system_error&) {
        stopFlag_.store(1, std::memory_order_release);
        return false;
    }
    state_ = std::move(state);
    threadId_.store(g_nextThreadId.fetch_add(1));
    return true;
}

bool CAutoThread::Stop() {
    stopFlag_.store(1, std::memory_order_release);
    if (!thread_) return true;
    if (thread_->get_id() == std::this_thread::get_id()) {
        // A thread cannot wait for itself; it ends on its own once it sees the flag.
        Abandon();
        return true;
    }
    bool ended;
    {
        std::unique_lock<std::mutex> lock(state_->mutex);
        ended = state_->ended.wait_for(lock, std::chrono::milliseconds(stopWaitMs_),
                                       [this] { return state_->done; });
    }
    if (ended) {
        thread_->join();
        thread_.reset();
        return true;
    }
    Trace(L"[CAutoThread] thread 0x%x did not stop within %u ms; abandoned\r\n",
          threadId_.load(), stopWaitMs_);
    Abandon();
    return true;
}

bool CAutoThread::Terminate() {
    if (!thread_) return false;
    Abandon();
    stopFlag_.store(1, std::memory_order_release);
    return true;
}

int CAutoThread::IsStopping() const {
    if (stopFlag_.load(std::memory_order_acquire)) return 1;
    const auto* own = static_cast<const ThreadState*>(t_threadState);
    return own != nullptr && own->owner == this && own->abandoned.load(std::memory_order_acquire) ? 1 : 0;
}

void CAutoThread::Abandon() {
    state_->abandoned.store(true, std::memory_order_release);
    thread_->detach();
    thread_.reset();
    // The exit code of a thread that did not end reads -1, as after a kill.
    state_ = std::make_shared<ThreadState>();
}

int CAutoThread::GetExitCode() const {
    if (!state_) return -1;
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->done ? state_->exitCode : -1;
}
