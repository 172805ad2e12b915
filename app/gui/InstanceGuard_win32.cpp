#include "app/gui/InstanceGuard.h"

#include <windows.h>

#include "engine/frame/Trace.h"

CInstanceGuard::~CInstanceGuard() {
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
