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

    // The instance that holds the guard: from now on `onRequest` runs, on a thread of the guard's, each
    // time a second start asks for the window (the caller hands it to its UI thread), with the folder
    // of update files that start was given (UTF-8; empty when it was given none). 1 when watching.
    // (Windows: a named event "<guard name>-show" and a named shared block for the folder; POSIX: a
    // FIFO next to the lock file.)
    using Request = std::function<void(const std::string& folder)>;
    int WatchShowRequests(Request onRequest);
    // Ends the watch and joins its thread; `onRequest` is not called afterwards. The destructor does it too.
    void StopWatching();
    // A second start (Acquire said AlreadyRunning): asks the running instance to show its window and,
    // when `folder` is not empty, to take that folder of update files. 1 when the request was
    // delivered; 0 when it was not (nobody watches, or a folder too long to hand over).
    int AskRunningToShow(const std::string& folder = std::string());
    // The longest folder a request carries, in bytes.
    static constexpr size_t kMaxFolderBytes = 4000;

private:
    void* handle_ = nullptr;  // Windows: the mutex handle
    int fd_ = -1;             // POSIX: the locked file
    std::string error_;
    std::thread watcher_;
    void* showEvent_ = nullptr;  // Windows: the "-show" event
    void* stopEvent_ = nullptr;  // Windows: ends the watcher
    void* folderBlock_ = nullptr;  // Windows: the named shared block a second start writes its folder to
    int fifoFd_ = -1;            // POSIX: read end of the "-show" FIFO
    int fifoKeep_ = -1;          // POSIX: a writer of our own, so the FIFO never reads end-of-file
    int stopPipe_[2] = {-1, -1}; // POSIX: ends the watcher
};
