#include "app/cli/InterruptWatch.h"

#include <windows.h>

#include <condition_variable>

#include "base/ConsoleText.h"

// Windows calls a console control handler on a thread of its own. The handler only hands the event
// to the watch thread and returns TRUE, so the process is not ended; the watch thread then behaves as
// the POSIX one after sigwait.
namespace {

std::mutex gEventMutex;
std::condition_variable gEventArrived;
int gPendingEvents = 0;  // guarded by gEventMutex

BOOL WINAPI OnConsoleControl(DWORD type) {
    switch (type) {
        case CTRL_C_EVENT:
        case CTRL_BREAK_EVENT:
        case CTRL_CLOSE_EVENT: {
            std::lock_guard<std::mutex> lock(gEventMutex);
            ++gPendingEvents;
            gEventArrived.notify_one();
            return TRUE;
        }
        default:
            return FALSE;
    }
}

}  // namespace

CInterruptWatch::CInterruptWatch() {
    thread_ = std::thread([this] { Watch(); });
    SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

CInterruptWatch::~CInterruptWatch() {
    SetConsoleCtrlHandler(OnConsoleControl, FALSE);
    {
        std::lock_guard<std::mutex> lock(gEventMutex);
        closing_.store(true);
        gEventArrived.notify_one();
    }
    thread_.join();
}

void CInterruptWatch::Watch() {
    for (;;) {
        {
            std::unique_lock<std::mutex> lock(gEventMutex);
            gEventArrived.wait(lock, [this] { return gPendingEvents > 0 || closing_.load(); });
            if (closing_.load()) return;
            --gPendingEvents;
        }
        OnInterrupt();
    }
}

void CInterruptWatch::ExitAtOnce(const char* text) {
    WriteConsoleUtf8(stderr, text);
    ExitProcess(1);
}
