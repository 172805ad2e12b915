#include "app/cli/InterruptWatch.h"

#include <windows.h>

#include <chrono>
#include <condition_variable>

#include "app/cli/ConsoleControl_win32.h"
#include "base/ConsoleText.h"

// Windows calls a console control handler on a thread of its own. For Ctrl-C and Ctrl-Break the
// handler only hands the event to the watch thread and returns TRUE, so the process is not ended;
// the watch thread then behaves as the POSIX one after sigwait.
//
// Closing the console window (and a logoff or shutdown) is different: whatever the handler returns,
// Windows ends the process as soon as it returns, and kills it anyway once its time-out passes (5 s
// for a closed window, SPI_GETHUNGAPPTIMEOUT). So for these the handler hands the event over as an
// interrupt and then stays until the watch is destroyed (main has returned from the run: the engine
// stopped, the port closed, the trace's last line written), at most kCloseStopWaitMs.
namespace {

constexpr auto kCloseStopWaitMs = std::chrono::milliseconds(4000);

std::mutex gEventMutex;
std::condition_variable gEventArrived;
// Guarded by gEventMutex: Ctrl-C and Ctrl-Break not taken yet, and closes not taken yet. A close
// interrupts a run, but one that comes after an interrupt is not a second interrupt: the stop is
// under way, and the handler waits for it.
int gPendingInterrupts = 0;
int gPendingCloses = 0;
bool gWatchEnded = false;  // guarded by gEventMutex; set when the watch is destroyed
std::condition_variable gWatchEndedChanged;

}  // namespace

BOOL WINAPI OnConsoleControl(DWORD type) {
    switch (type) {
        case CTRL_C_EVENT:
        case CTRL_BREAK_EVENT: {
            std::lock_guard<std::mutex> lock(gEventMutex);
            ++gPendingInterrupts;
            gEventArrived.notify_one();
            return TRUE;
        }
        case CTRL_CLOSE_EVENT:
        case CTRL_LOGOFF_EVENT:
        case CTRL_SHUTDOWN_EVENT: {
            std::unique_lock<std::mutex> lock(gEventMutex);
            ++gPendingCloses;
            gEventArrived.notify_one();
            gWatchEndedChanged.wait_for(lock, kCloseStopWaitMs, [] { return gWatchEnded; });
            return TRUE;
        }
        default:
            return FALSE;
    }
}

CInterruptWatch::CInterruptWatch() {
    {
        std::lock_guard<std::mutex> lock(gEventMutex);
        gWatchEnded = false;
    }
    thread_ = std::thread([this] { Watch(); });
    SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

CInterruptWatch::~CInterruptWatch() {
    SetConsoleCtrlHandler(OnConsoleControl, FALSE);
    {
        std::lock_guard<std::mutex> lock(gEventMutex);
        closing_.store(true);
        gEventArrived.notify_one();
        gWatchEnded = true;
        gWatchEndedChanged.notify_all();
    }
    thread_.join();
}

void CInterruptWatch::Watch() {
    for (;;) {
        bool fromClose = false;
        {
            std::unique_lock<std::mutex> lock(gEventMutex);
            gEventArrived.wait(lock, [this] { return gPendingInterrupts + gPendingCloses > 0 || closing_.load(); });
            if (closing_.load()) return;
            if (gPendingInterrupts > 0) {
                --gPendingInterrupts;
            } else {
                --gPendingCloses;
                fromClose = true;
            }
        }
        if (fromClose && Interrupted()) continue;
        OnInterrupt();
    }
}

void CInterruptWatch::ExitAtOnce(const char* text) {
    WriteConsoleUtf8(stderr, text);
    ExitProcess(1);
}
