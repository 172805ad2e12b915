// The single-instance guard: one running iap-tool per user session. The guard is held from Acquire
// until the object is destroyed or the process ends, however it ends, so a crashed instance never
// blocks the next one.
#pragma once

#include <string>

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

private:
    void* handle_ = nullptr;  // Windows: the mutex handle
    int fd_ = -1;             // POSIX: the locked file
    std::string error_;
};
