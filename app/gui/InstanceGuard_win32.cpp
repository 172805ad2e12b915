#include "app/gui/InstanceGuard.h"

#include <windows.h>

#include <functional>
#include <thread>

#include "base/Text.h"
#include "base/Trace.h"

namespace {

// The event a second start sets to bring the running window forward.
std::wstring ShowEventName() { return Utf8ToWide(std::string(kInstanceGuardName) + "-show"); }

}  // namespace

CInstanceGuard::~CInstanceGuard() {
    StopWatching();
    if (handle_ != nullptr) CloseHandle(static_cast<HANDLE>(handle_));
}

CInstanceGuard::Result CInstanceGuard::Acquire() {
    // Default security, not initially owned: the mutex only marks that an instance runs, and Windows
    // drops it with the last handle, however the process ends.
    const std::wstring name = Utf8ToWide(kInstanceGuardName);
    HANDLE mutex = CreateMutexW(nullptr, FALSE, name.c_str());
    const DWORD error = GetLastError();
    if (mutex == nullptr) {
        error_ = "CreateMutexW failed, error " + std::to_string(error);
        return Result::Failed;
    }
    if (error == ERROR_ALREADY_EXISTS) {
        CloseHandle(mutex);
        return Result::AlreadyRunning;
    }
    handle_ = mutex;
    return Result::Acquired;
}

int CInstanceGuard::WatchShowRequests(std::function<void()> onShow) {
    if (handle_ == nullptr || watcher_.joinable()) return 0;
    // Auto-reset: one wake-up per request; several starts in a row may fold into one.
    HANDLE show = CreateEventW(nullptr, FALSE, FALSE, ShowEventName().c_str());
    HANDLE stop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (show == nullptr || stop == nullptr) {
        if (show != nullptr) CloseHandle(show);
        if (stop != nullptr) CloseHandle(stop);
        return 0;
    }
    showEvent_ = show;
    stopEvent_ = stop;
    watcher_ = std::thread([show, stop, onShow = std::move(onShow)] {
        const HANDLE handles[2] = {stop, show};
        for (;;) {
            const DWORD which = WaitForMultipleObjects(2, handles, FALSE, INFINITE);
            if (which != WAIT_OBJECT_0 + 1) return;
            onShow();
        }
    });
    return 1;
}

void CInstanceGuard::StopWatching() {
    if (watcher_.joinable()) {
        SetEvent(static_cast<HANDLE>(stopEvent_));
        watcher_.join();
    }
    for (void** handle : {&showEvent_, &stopEvent_}) {
        if (*handle != nullptr) CloseHandle(static_cast<HANDLE>(*handle));
        *handle = nullptr;
    }
}

int CInstanceGuard::AskRunningToShow() {
    HANDLE show = OpenEventW(EVENT_MODIFY_STATE, FALSE, ShowEventName().c_str());
    if (show == nullptr) return 0;
    const BOOL ok = SetEvent(show);
    CloseHandle(show);
    return ok ? 1 : 0;
}
