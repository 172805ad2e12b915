#include "support/DevSimProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <sstream>

#include "support/TestSupport.h"

extern char** environ;

namespace testsupport {

namespace {

// Bounds that only stop a hung child; a healthy one is done long before (a sanitizer build on a
// loaded machine starts and stops iap-devsim in well under a second).
constexpr int kStartBoundMs = 20000;
constexpr int kExitBoundMs = 20000;
constexpr size_t kLastWords = 2000;

using Clock = std::chrono::steady_clock;

int MsSince(Clock::time_point start) {
    return static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

std::vector<char*> ArgPointers(const std::vector<std::string>& argv) {
    std::vector<char*> pointers;
    for (const std::string& arg : argv) pointers.push_back(const_cast<char*>(arg.c_str()));
    pointers.push_back(nullptr);
    return pointers;
}

std::string JoinCommandLine(const std::vector<std::string>& argv) {
    std::string text;
    for (const std::string& arg : argv) text += (text.empty() ? "" : " ") + arg;
    return text;
}

// A descriptor that becomes readable when the child ends, so a wait needs no polling; -1 where the
// kernel has none (then the wait polls).
int OpenPidFd(int pid) { return static_cast<int>(syscall(SYS_pidfd_open, pid, 0)); }

// Waits up to timeoutMs for the child to end and reaps it: true with its status, false if it runs on.
bool Reap(int pid, int pidFd, int timeoutMs, int& status) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const int r = waitpid(pid, &status, WNOHANG);
        if (r == pid) return true;
        if (r < 0 && errno != EINTR) return false;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) return false;
        pollfd pfd{pidFd, POLLIN, 0};
        if (pidFd >= 0) {
            poll(&pfd, 1, static_cast<int>(left));
        } else {
            poll(nullptr, 0, static_cast<int>(std::min<long long>(left, 5)));
        }
    }
}

void Fill(ChildEnd& end, int status) {
    if (WIFEXITED(status)) {
        end.how = ChildEnd::How::Exited;
        end.code = WEXITSTATUS(status);
    } else {
        end.how = ChildEnd::How::Signalled;
        end.code = WTERMSIG(status);
    }
}

// posix_spawn, not fork: the tests have threads, and the child must not inherit a lock held by one.
int Spawn(const std::vector<std::string>& argv, int outFd, int errFd, char** env) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, outFd, STDOUT_FILENO);
    if (errFd >= 0) posix_spawn_file_actions_adddup2(&actions, errFd, STDERR_FILENO);
    auto pointers = ArgPointers(argv);
    pid_t pid = -1;
    if (posix_spawn(&pid, pointers[0], &actions, nullptr, pointers.data(), env) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

}  // namespace

std::string ChildEnd::Describe() const {
    std::ostringstream text;
    switch (how) {
    case How::NotStarted: text << "not started"; break;
    case How::Exited: text << "exited with code " << code; break;
    case How::Signalled: text << "killed by signal " << code << " (" << strsignal(code) << ")"; break;
    case How::StillRunning: text << "still running after " << waitedMs << " ms, killed"; break;
    }
    if (how != How::StillRunning) text << " after " << waitedMs << " ms";
    text << ": " << who;
    if (!lastWords.empty()) text << "\n  its standard error ends:\n" << lastWords;
    return text.str();
}

std::ostream& operator<<(std::ostream& out, const ChildEnd& end) { return out << end.Describe(); }

std::string BinPath(const std::string& program) { return std::string(IAP_BIN_DIR) + "/" + program; }

DevSimProcess::DevSimProcess(const std::vector<std::string>& args) {
    std::vector<std::string> argv = {BinPath("iap-devsim")};
    argv.insert(argv.end(), args.begin(), args.end());
    commandLine_ = JoinCommandLine(argv);
    end_.who = commandLine_;
    int out[2], err[2];
    if (pipe2(out, O_CLOEXEC) != 0) return;
    if (pipe2(err, O_CLOEXEC) != 0 || pipe2(wakeFds_, O_CLOEXEC) != 0) {
        close(out[0]);
        close(out[1]);
        return;
    }
    const auto start = Clock::now();
    pid_ = Spawn(argv, out[1], err[1], environ);
    close(out[1]);
    close(err[1]);
    outFd_ = out[0];
    errFd_ = err[0];
    if (pid_ <= 0) {
        ended_ = true;
        return;
    }
    pidFd_ = OpenPidFd(pid_);
    end_.who += " (pid " + std::to_string(pid_) + ")";
    // Keeps reading both outputs, so the simulator never blocks on a full pipe.
    drain_ = std::thread([this] { Drain(); });
    // The first line is the line path; a child that ends first closes its output.
    std::unique_lock<std::mutex> lock(mutex_);
    const bool got = more_.wait_until(lock, start + std::chrono::milliseconds(ScaledMs(kStartBoundMs)),
                                      [this] { return outClosed_ || out_.find('\n') != std::string::npos; });
    const size_t eol = out_.find('\n');
    if (got && eol != std::string::npos) ptyPath_ = out_.substr(0, eol);
}

DevSimProcess::~DevSimProcess() {
    if (!ended_) Stop(SIGTERM);
    if (wakeFds_[1] >= 0) {
        const char byte = 1;
        [[maybe_unused]] const ssize_t ignored = write(wakeFds_[1], &byte, 1);
    }
    if (drain_.joinable()) drain_.join();
    for (int fd : {pidFd_, outFd_, errFd_, wakeFds_[0], wakeFds_[1]})
        if (fd >= 0) close(fd);
}

void DevSimProcess::Drain() {
    bool outOpen = true, errOpen = true;
    while (outOpen || errOpen) {
        pollfd fds[3] = {{outOpen ? outFd_ : -1, POLLIN, 0}, {errOpen ? errFd_ : -1, POLLIN, 0}, {wakeFds_[0], POLLIN, 0}};
        if (poll(fds, 3, -1) < 0 && errno != EINTR) break;
        // Woken: the child is gone; read what is left in the pipes without waiting, then leave.
        const bool last = fds[2].revents != 0;
        for (int i = 0; i < 2; ++i) {
            if (!last && !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
            if (!(i == 0 ? outOpen : errOpen)) continue;
            char buffer[4096];
            const int fd = i == 0 ? outFd_ : errFd_;
            if (last) fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
            const ssize_t n = read(fd, buffer, sizeof buffer);
            std::lock_guard<std::mutex> lock(mutex_);
            if (n > 0) {
                (i == 0 ? out_ : err_).append(buffer, static_cast<size_t>(n));
            } else if (n == 0 || errno != EINTR) {
                (i == 0 ? outOpen : errOpen) = false;
                if (i == 0) outClosed_ = true;
            }
            more_.notify_all();
        }
    }
    std::lock_guard<std::mutex> lock(mutex_);
    outClosed_ = true;
    drained_ = true;
    more_.notify_all();
}

std::string DevSimProcess::Err() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return err_;
}

std::string DevSimProcess::Describe() const {
    const std::string err = Err();
    std::string text = commandLine_ + (pid_ > 0 ? " (pid " + std::to_string(pid_) + ")" : " (could not start)");
    if (ended_) text += ", " + end_.Describe();
    if (!err.empty()) text += "\n  its standard error:\n" + err.substr(err.size() > kLastWords ? err.size() - kLastWords : 0);
    return text;
}

bool DevSimProcess::WaitForErr(const std::string& text) {
    std::unique_lock<std::mutex> lock(mutex_);
    return more_.wait_for(lock, std::chrono::milliseconds(ScaledMs(kStartBoundMs)), [&] {
        return drained_ || err_.find(text) != std::string::npos;
    }) && err_.find(text) != std::string::npos;
}

ChildEnd DevSimProcess::WaitExit() { return Finish(false, 0); }

ChildEnd DevSimProcess::Stop(int signalNumber) { return Finish(true, signalNumber); }

ChildEnd DevSimProcess::Finish(bool signalFirst, int signalNumber) {
    if (ended_ || pid_ <= 0) return end_;
    const auto start = Clock::now();
    if (signalFirst) kill(pid_, signalNumber);
    int status = 0;
    if (Reap(pid_, pidFd_, ScaledMs(kExitBoundMs), status)) {
        Fill(end_, status);
    } else {
        end_.how = ChildEnd::How::StillRunning;
        // Always ended: a child left behind would hold its pty and its --out folder.
        kill(pid_, SIGKILL);
        waitpid(pid_, &status, 0);
    }
    end_.waitedMs = MsSince(start);
    ended_ = true;
    if (wakeFds_[1] >= 0) {
        const char byte = 1;
        [[maybe_unused]] const ssize_t ignored = write(wakeFds_[1], &byte, 1);
    }
    if (drain_.joinable()) drain_.join();
    const std::string err = Err();
    end_.lastWords = err.substr(err.size() > kLastWords ? err.size() - kLastWords : 0);
    return end_;
}

ProcessResult RunProcess(const std::vector<std::string>& argv, int timeoutMs,
                         const std::vector<std::string>& extraEnv, const ProcessWatch& watch) {
    ProcessResult result;
    int out[2], err[2];
    if (pipe2(out, O_CLOEXEC) != 0) return result;
    if (pipe2(err, O_CLOEXEC) != 0) {
        close(out[0]);
        close(out[1]);
        return result;
    }
    std::vector<std::string> envStore;
    for (char** entry = environ; *entry != nullptr; ++entry) envStore.emplace_back(*entry);
    for (const std::string& assignment : extraEnv) {
        const std::string name = assignment.substr(0, assignment.find('=') + 1);
        std::erase_if(envStore, [&](const std::string& e) { return e.rfind(name, 0) == 0; });
        envStore.push_back(assignment);
    }
    auto env = ArgPointers(envStore);
    const auto start = Clock::now();
    const int pid = Spawn(argv, out[1], err[1], env.data());
    close(out[1]);
    close(err[1]);
    const int pidFd = pid > 0 ? OpenPidFd(pid) : -1;
    const auto deadline = start + std::chrono::milliseconds(timeoutMs);
    bool outOpen = pid > 0, errOpen = pid > 0;
    while ((outOpen || errOpen) && Clock::now() < deadline) {
        pollfd fds[2] = {{outOpen ? out[0] : -1, POLLIN, 0}, {errOpen ? err[0] : -1, POLLIN, 0}};
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (poll(fds, 2, static_cast<int>(std::max<long long>(left, 1))) <= 0) continue;
        char buffer[4096];
        for (int i = 0; i < 2; ++i) {
            if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
            const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
            if (n <= 0) {
                (i == 0 ? outOpen : errOpen) = false;
                continue;
            }
            (i == 0 ? result.out : result.err).append(buffer, static_cast<size_t>(n));
            if (watch) watch(pid, result);
        }
    }
    close(out[0]);
    close(err[0]);
    if (pid > 0) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        int status = 0;
        if (Reap(pid, pidFd, static_cast<int>(std::max<long long>(left.count(), 100)), status)) {
            result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        } else {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
        }
    }
    if (pidFd >= 0) close(pidFd);
    result.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    return result;
}

}  // namespace testsupport
