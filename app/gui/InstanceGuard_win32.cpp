#include "app/gui/InstanceGuard.h"

#include <windows.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <thread>

#include "base/Text.h"
#include "base/Trace.h"

namespace {

// The event a second start sets to bring the running window forward.
std::wstring ShowEventName() { return Utf8ToWide(std::string(kInstanceGuardName) + "-show"); }
// The shared block a second start writes its folder to before it sets the event, and the mutex that
// keeps one writer or the reader at it at a time.
std::wstring FolderBlockName() { return Utf8ToWide(std::string(kInstanceGuardName) + "-folder"); }
std::wstring FolderMutexName() { return Utf8ToWide(std::string(kInstanceGuardName) + "-folder-lock"); }

// Block layout: a 32-bit byte count, then that many bytes of UTF-8 folder.
constexpr DWORD kFolderBlockBytes = static_cast<DWORD>(sizeof(uint32_t) + CInstanceGuard::kMaxFolderBytes);

// Runs `use` on the block while holding the folder mutex; false when either cannot be had.
template <typename Use>
bool WithFolderBlock(void* block, Use use) {
    HANDLE mutex = CreateMutexW(nullptr, FALSE, FolderMutexName().c_str());
    if (mutex == nullptr) return false;
    const DWORD waited = WaitForSingleObject(mutex, 2000);
    const bool held = waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED;
    if (held) {
        use(static_cast<unsigned char*>(block));
        ReleaseMutex(mutex);
    }
    CloseHandle(mutex);
    return held;
}

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

int CInstanceGuard::WatchShowRequests(Request onRequest) {
    if (handle_ == nullptr || watcher_.joinable()) return 0;
    // Auto-reset: one wake-up per request; several starts in a row may fold into one.
    HANDLE show = CreateEventW(nullptr, FALSE, FALSE, ShowEventName().c_str());
    HANDLE stop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE block = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, kFolderBlockBytes,
                                      FolderBlockName().c_str());
    void* view = block != nullptr ? MapViewOfFile(block, FILE_MAP_ALL_ACCESS, 0, 0, kFolderBlockBytes) : nullptr;
    if (show == nullptr || stop == nullptr || view == nullptr) {
        Trace(L"iap-tool: no watch for a second start, error %lu\n", GetLastError());
        if (view != nullptr) UnmapViewOfFile(view);
        for (HANDLE handle : {show, stop, block})
            if (handle != nullptr) CloseHandle(handle);
        return 0;
    }
    showEvent_ = show;
    stopEvent_ = stop;
    folderBlock_ = block;
    watcher_ = std::thread([show, stop, view, onRequest = std::move(onRequest)] {
        const HANDLE handles[2] = {stop, show};
        for (;;) {
            const DWORD which = WaitForMultipleObjects(2, handles, FALSE, INFINITE);
            if (which != WAIT_OBJECT_0 + 1) break;
            std::string folder;
            WithFolderBlock(view, [&folder](unsigned char* bytes) {
                uint32_t length = 0;
                std::memcpy(&length, bytes, sizeof length);
                if (length <= CInstanceGuard::kMaxFolderBytes)
                    folder.assign(reinterpret_cast<const char*>(bytes + sizeof length), length);
                length = 0;
                std::memcpy(bytes, &length, sizeof length);
            });
            onRequest(folder);
        }
        UnmapViewOfFile(view);
    });
    return 1;
}

void CInstanceGuard::StopWatching() {
    if (watcher_.joinable()) {
        SetEvent(static_cast<HANDLE>(stopEvent_));
        watcher_.join();
    }
    for (void** handle : {&showEvent_, &stopEvent_, &folderBlock_}) {
        if (*handle != nullptr) CloseHandle(static_cast<HANDLE>(*handle));
        *handle = nullptr;
    }
}

int CInstanceGuard::AskRunningToShow(const std::string& folder) {
    if (folder.size() > kMaxFolderBytes) return 0;
    if (!folder.empty()) {
        HANDLE block = OpenFileMappingW(FILE_MAP_WRITE, FALSE, FolderBlockName().c_str());
        if (block == nullptr) return 0;
        void* view = MapViewOfFile(block, FILE_MAP_WRITE, 0, 0, kFolderBlockBytes);
        const bool written = view != nullptr && WithFolderBlock(view, [&folder](unsigned char* bytes) {
            const uint32_t length = static_cast<uint32_t>(folder.size());
            std::memcpy(bytes, &length, sizeof length);
            std::memcpy(bytes + sizeof length, folder.data(), folder.size());
        });
        if (view != nullptr) UnmapViewOfFile(view);
        CloseHandle(block);
        if (!written) return 0;
    }
    HANDLE show = OpenEventW(EVENT_MODIFY_STATE, FALSE, ShowEventName().c_str());
    if (show == nullptr) return 0;
    // Windows lets only the foreground process, or one it allows, take the foreground: the running
    // instance is in the background, so on its own it would only flash its taskbar button. This
    // start was just launched by the user and may pass the right on; it does not know the running
    // instance's process id, so any process gets it, until the user's next input. Failing (this
    // start is not in the foreground either) leaves the flashing button, as before.
    if (!AllowSetForegroundWindow(ASFW_ANY))
        Trace(L"iap-tool: the running window may not come forward, error %lu\n", GetLastError());
    const BOOL ok = SetEvent(show);
    CloseHandle(show);
    return ok ? 1 : 0;
}
