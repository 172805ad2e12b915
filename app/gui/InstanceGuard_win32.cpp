#include "app/gui/InstanceGuard.h"

#include <windows.h>

CInstanceGuard::~CInstanceGuard() {
    if (handle_ != nullptr) CloseHandle(static_cast<HANDLE>(handle_));
}

CInstanceGuard::Result CInstanceGuard::Acquire() {
    HANDLE mutex = CreateMutexW(nullptr, FALSE, L"{5A7136DF-3CE5-4278-931A-96E9F480A93B}}");
    if (mutex == nullptr) {
        error_ = "CreateMutexW failed, error " + std::to_string(GetLastError());
        return Result::Failed;
    }
    if (GetLastError() == ERROR_ALREADY_EXISTS) {
        CloseHandle(mutex);
        return Result::AlreadyRunning;
    }
    handle_ = mutex;
    return Result::Acquired;
}
