#include "support/DevSimProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <thread>

namespace testsupport {

namespace {

std::vector<char*> ArgPointers(const std::vector<std::string>& argv) {
    std::vector<char*> pointers;
    for (const std::string& arg : argv) pointers.push_back(const_cast<char*>(arg.c_str()));
    pointers.push_back(nullptr);
    return pointers;
}

int WaitExit(int pid, int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    int status = 0;
    while (std::chrono::steady_clock::now() < deadline) {
        const int r = waitpid(pid, &status, WNOHANG);
        if (r == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        if (r < 0) return -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    return -1;
}

}  // namespace

std::string BinPath(const std::string& program) { return std::string(IAP_BIN_DIR) + "/" + program; }

DevSimProcess::DevSimProcess(const std::vector<std::string>& args) {
    int out[2];
    if (pipe(out) != 0) return;
    std::vector<std::string> argv = {BinPath("iap-devsim")};
    argv.insert(argv.end(), args.begin(), args.end());
    auto pointers = ArgPointers(argv);
    pid_ = fork();
    if (pid_ == 0) {
        dup2(out[1], STDOUT_FILENO);
        close(out[0]);
        close(out[1]);
        execv(pointers[0], pointers.data());
        _exit(127);
    }
    close(out[1]);
    // The first line is the pseudo-terminal's path.
    std::string line;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
        pollfd pfd{out[0], POLLIN, 0};
        if (poll(&pfd, 1, 100) <= 0) continue;
        char c;
        if (read(out[0], &c, 1) != 1) break;
        if (c == '\n') {
            ptyPath_ = line;
            break;
        }
        line += c;
    }
    // Keep draining the rest of its output so the simulator never blocks on a full pipe.
    const int fd = out[0];
    std::thread([fd] {
        char buffer[4096];
        while (read(fd, buffer, sizeof buffer) > 0) {
        }
        close(fd);
    }).detach();
}

DevSimProcess::~DevSimProcess() { Stop(); }

int DevSimProcess::Stop() {
    if (pid_ <= 0) return -1;
    kill(pid_, SIGTERM);
    const int status = WaitExit(pid_, 5000);
    pid_ = -1;
    return status;
}

ProcessResult RunProcess(const std::vector<std::string>& argv, int timeoutMs,
                         const std::vector<std::string>& extraEnv, const ProcessWatch& watch) {
    ProcessResult result;
    int out[2], err[2];
    if (pipe(out) != 0 || pipe(err) != 0) return result;
    auto pointers = ArgPointers(argv);
    const auto start = std::chrono::steady_clock::now();
    const int pid = fork();
    if (pid == 0) {
        dup2(out[1], STDOUT_FILENO);
        dup2(err[1], STDERR_FILENO);
        close(out[0]);
        close(err[0]);
        close(out[1]);
        close(err[1]);
        for (const std::string& assignment : extraEnv) putenv(const_cast<char*>(assignment.c_str()));
        execv(pointers[0], pointers.data());
        _exit(127);
    }
    close(out[1]);
    close(err[1]);
    const auto deadline = start + std::chrono::milliseconds(timeoutMs);
    bool outOpen = true, errOpen = true;
    while ((outOpen || errOpen) && std::chrono::steady_clock::now() < deadline) {
        pollfd fds[2] = {{out[0], static_cast<short>(outOpen ? POLLIN : 0), 0},
                         {err[0], static_cast<short>(errOpen ? POLLIN : 0), 0}};
        if (poll(fds, 2, 50) <= 0) continue;
        char buffer[4096];
        for (int i = 0; i < 2; ++i) {
            if (!(fds[i].revents & (POLLIN | POLLHUP))) continue;
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
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    result.status = WaitExit(pid, static_cast<int>(std::max<long long>(left.count(), 100)));
    result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return result;
}

}  // namespace testsupport
