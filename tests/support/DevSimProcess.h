// Runs the device simulator iap-devsim as a child process on its own pseudo-terminal.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace testsupport {

class DevSimProcess {
public:
    // Starts IAP_BIN_DIR/iap-devsim with `args` and reads the pty path from its first output line.
    explicit DevSimProcess(const std::vector<std::string>& args);
    // Stops it (SIGTERM, then SIGKILL after a grace period) and reaps it.
    ~DevSimProcess();
    DevSimProcess(const DevSimProcess&) = delete;
    DevSimProcess& operator=(const DevSimProcess&) = delete;

    const std::string& PtyPath() const { return ptyPath_; }
    bool Started() const { return !ptyPath_.empty(); }
    // SIGTERM and wait; returns the exit status (or -1).
    int Stop();

private:
    int pid_ = -1;
    std::string ptyPath_;
};

// Runs a program to completion; returns its exit status (-1 when it could not run or was killed) and
// collects standard output and standard error.
struct ProcessResult {
    int status = -1;
    std::string out;
    std::string err;
    double seconds = 0;
};
// Called with the child's pid and its output so far each time more output arrived (it may signal the
// child, for instance once a line appeared).
using ProcessWatch = std::function<void(int pid, const ProcessResult& soFar)>;
ProcessResult RunProcess(const std::vector<std::string>& argv, int timeoutMs,
                         const std::vector<std::string>& extraEnv = {}, const ProcessWatch& watch = {});

std::string BinPath(const std::string& program);

}  // namespace testsupport
