// iap-cli's console control handler, called as Windows calls it: on a thread of its own. Windows ends
// the process as soon as the handler returns from a closing console's event, so the handler must
// not return before the run has stopped (the watch is destroyed after it), nor so late that Windows
// kills the process first.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

#include "app/cli/ConsoleControl_win32.h"
#include "app/cli/InterruptWatch.h"

namespace {

// The watch, and whether its wake function ran.
struct WatchedRun {
    WatchedRun() : watch(std::make_unique<CInterruptWatch>()) {
        watch->SetWake([this] {
            std::lock_guard<std::mutex> lock(mutex);
            woken = true;
            wokenChanged.notify_all();
        });
    }
    void WaitForWake() {
        std::unique_lock<std::mutex> lock(mutex);
        wokenChanged.wait(lock, [this] { return woken; });
    }
    std::unique_ptr<CInterruptWatch> watch;
    std::mutex mutex;
    std::condition_variable wokenChanged;
    bool woken = false;
};

TEST(ConsoleControlTest, AClosingConsoleInterruptsTheRunAndHoldsTheProcessUntilItStopped) {
    for (DWORD event : {DWORD{CTRL_CLOSE_EVENT}, DWORD{CTRL_LOGOFF_EVENT}, DWORD{CTRL_SHUTDOWN_EVENT}}) {
        SCOPED_TRACE(event);
        WatchedRun run;
        std::atomic<int> step{0};
        std::atomic<int> returnedAt{0};
        std::atomic<BOOL> handled{FALSE};
        std::thread windows([&] {
            handled = OnConsoleControl(event);
            returnedAt = ++step;
        });
        run.WaitForWake();
        EXPECT_TRUE(run.watch->Interrupted());
        const int stoppedAt = ++step;
        run.watch.reset();  // as main does once the run has returned
        windows.join();
        EXPECT_EQ(handled.load(), TRUE);
        EXPECT_GT(returnedAt.load(), stoppedAt) << "the handler returned before the run had stopped";
    }
}

TEST(ConsoleControlTest, AStopThatDoesNotComeReleasesTheHandlerBeforeWindowsKillsTheProcess) {
    WatchedRun run;
    std::atomic<bool> returned{false};
    std::thread windows([&] {
        EXPECT_EQ(OnConsoleControl(CTRL_CLOSE_EVENT), TRUE);
        returned = true;
    });
    windows.join();  // the watch is still there: the handler's own bound ended its wait
    EXPECT_TRUE(returned.load());
    EXPECT_TRUE(run.watch->Interrupted());
}

TEST(ConsoleControlTest, OtherEventsAreLeftToTheNextHandler) { EXPECT_EQ(OnConsoleControl(0x7F), FALSE); }

}  // namespace
