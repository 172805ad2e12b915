// The single-instance guard: one running iap-tool per user session. The guard is held from Acquire
// until the object is destroyed or the process ends, however it ends, so a crashed instance never
// blocks the next one.
#pragma once

#include <functional>
#include <string>
#include <thread>

// The name every instance uses (Windows: a named mutex; POSIX: a lock file named after it).
constexpr const char* kInstanceGuardName = "{5A7136DF-3CE5-4278-931A-96E9F480A93B}}";

class CInstanceGuard {
public:
    enum class Result { Acquired, AlreadyRunning, Failed };

    CInstanceGuard() = default;
    ~CInstanceGuard();
    CInstanceGuard(const CInstanceGuard&) = delete;
    CInstanceGuard& operator=(const CInstanceGuard&) = delete;

    Result Acquire();
    // Why Acquire failed (for the trace); empty otherwise.
    const std::string& Error() const { return error_; }

    // The instance that holds the guard: from now on `onShow` runs, on a thread of the guard's, each
    // time a second start asks for the window (the caller hands it to its UI thread). 1 when watching.
    // (Windows: a named event "<guard name>-show"; POSIX: a FIFO next to the lock file.)
    int WatchShowRequests(std::function<void()> onShow);
    // Ends the watch and joins its thread; `onShow` is not called afterwards. The destructor does it too.
    void StopWatching();
    // A second start (Acquire said AlreadyRunning): asks the running instance to show its window.
    // 1 when the request was delivered.
    int AskRunningToShow();

private:
    void* handle_ = nullptr;  // Windows: the mutex handle
    int fd_ = -1;             // POSIX: the locked file
    std::string error_;
    std::thread watcher_;
    void* showEvent_ = nullptr;  // Windows: the "-show" event
    void* stopEvent_ = nullptr;  // Windows: ends the watcher
    int fifoFd_ = -1;            // POSIX: read end of the "-show" FIFO
    int fifoKeep_ = -1;          // POSIX: a writer of our own, so the FIFO never reads end-of-file
    int stopPipe_[2] = {-1, -1}; // POSIX: ends the watcher
};
