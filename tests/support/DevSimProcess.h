// Runs the device simulator iap-devsim (or any program) as a child process: one harness for every
// test that starts one.
#pragma once

#include <signal.h>

#include <condition_variable>
#include <functional>
#include <mutex>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

namespace testsupport {

// How a child ended, with enough said for a failure message: its command line, what happened, and
// the last words on its standard error.
struct ChildEnd {
    enum class How { NotStarted, Exited, Signalled, StillRunning };
    How how = How::NotStarted;
    int code = -1;         // the exit code (Exited) or the signal (Signalled)
    int waitedMs = 0;      // how long the wait for it took
    std::string who;       // command line and pid
    std::string lastWords; // the tail of its standard error
    // True when it exited by itself with `exitCode`, so a test can EXPECT_EQ(sim.Stop(), 0).
    bool operator==(int exitCode) const { return how == How::Exited && code == exitCode; }
    std::string Describe() const;
};
std::ostream& operator<<(std::ostream& out, const ChildEnd& end);

class DevSimProcess {
public:
    // Starts IAP_BIN_DIR/iap-devsim with `args` and waits for its first output line (the line path),
    // or for it to end without one.
    explicit DevSimProcess(const std::vector<std::string>& args);
    // Ends the child (see Stop) if it still runs.
    ~DevSimProcess();
    DevSimProcess(const DevSimProcess&) = delete;
    DevSimProcess& operator=(const DevSimProcess&) = delete;

    const std::string& PtyPath() const { return ptyPath_; }
    bool Started() const { return !ptyPath_.empty(); }
    // The command line, pid and what it wrote to standard error so far: for failure messages.
    std::string Describe() const;
    // Everything it wrote to standard error so far.
    std::string Err() const;
    // Waits until `text` appears on its standard error or it ended; true when it appeared.
    bool WaitForErr(const std::string& text);

    // Waits for the child to end by itself. One that is still running after the (generous,
    // time-scaled) bound is killed and reported as StillRunning.
    ChildEnd WaitExit();
    // Sends `signalNumber`, waits (bounded) for the child to end, and kills it if it has not.
    ChildEnd Stop(int signalNumber = SIGTERM);

private:
    ChildEnd Finish(bool signalFirst, int signalNumber);
    void Drain();

    int pid_ = -1;
    int pidFd_ = -1;
    int outFd_ = -1;
    int errFd_ = -1;
    int wakeFds_[2] = {-1, -1};
    std::string commandLine_;
    std::string ptyPath_;
    ChildEnd end_;
    bool ended_ = false;
    mutable std::mutex mutex_;
    std::condition_variable more_;
    std::string out_;
    std::string err_;
    bool outClosed_ = false;
    bool drained_ = false;  // both outputs closed
    std::thread drain_;
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
