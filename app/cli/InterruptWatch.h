// Ctrl-C (SIGINT) and SIGTERM for iap-cli: one thread receives them, so that a wait in progress is
// woken at once and "interrupted" has a clear before and after.
//
// Threads: construct the watch in main before any other thread exists. It blocks both signals in the
// constructing thread, so every thread started later inherits the block and only the watch thread
// takes them (with sigwait). The first signal sets the flag and calls the wake function on the watch
// thread; a second one ends the process at once with status 1 (for a stop that does not come).
#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <thread>

class CInterruptWatch {
public:
    CInterruptWatch();
    // Ends the watch thread; the signals stay blocked.
    ~CInterruptWatch();
    CInterruptWatch(const CInterruptWatch&) = delete;
    CInterruptWatch& operator=(const CInterruptWatch&) = delete;

    bool Interrupted() const { return interrupted_.load(); }
    // `wake` is called on the watch thread when the first signal arrives (at once if one already
    // did). Replacing it waits until a call in progress has returned, so the caller may destroy what
    // the old one touches afterwards. `wake` must not call back into the watch.
    void SetWake(std::function<void()> wake);
    // Runs `action` unless a signal came first, and returns whether it ran. A signal arriving while
    // `action` runs is taken only after it returned: what `action` starts counts as started before
    // the interrupt.
    bool RunUnlessInterrupted(const std::function<void()>& action);

private:
    // The platform's part: the thread that waits for the OS's interrupt and hands each one to
    // OnInterrupt, and the exit at once for a second interrupt.
    void Watch();
    [[noreturn]] static void ExitAtOnce(const char* text);
    // The common part, called on the watch thread for every interrupt.
    void OnInterrupt();

    std::mutex mutex_;  // guards wake_, and makes a signal wait for RunUnlessInterrupted
    std::function<void()> wake_;
    std::atomic<bool> interrupted_{false};
    std::atomic<bool> closing_{false};
    std::thread thread_;
};
