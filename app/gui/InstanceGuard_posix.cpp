#include "app/gui/InstanceGuard.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

// $XDG_RUNTIME_DIR is private to the user's session. /tmp is shared by every user, so there the
// name carries the user id: another user's instance, or a file planted by someone else, must not
// keep this user's tool from starting.
std::string LockPath() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    struct stat st {};
    if (runtime != nullptr && runtime[0] == '/' && stat(runtime, &st) == 0 && S_ISDIR(st.st_mode))
        return std::string(runtime) + "/" + kInstanceGuardName + ".lock";
    return std::string("/tmp/") + kInstanceGuardName + "-" + std::to_string(getuid()) + ".lock";
}

std::string ShowPath() { return LockPath() + ".show"; }

}  // namespace

CInstanceGuard::~CInstanceGuard() {
    StopWatching();
    // The file stays: removing it would let a starting instance lock a new file while another still
    // holds the old one.
    if (fd_ >= 0) close(fd_);
}

CInstanceGuard::Result CInstanceGuard::Acquire() {
    const std::string path = LockPath();
    fd_ = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd_ < 0) {
        error_ = "cannot open " + path + ": " + std::strerror(errno);
        return Result::Failed;
    }
    int rc;
    do {
        rc = flock(fd_, LOCK_EX | LOCK_NB);
    } while (rc != 0 && errno == EINTR);
    if (rc == 0) return Result::Acquired;
    const int err = errno;
    close(fd_);
    fd_ = -1;
    if (err == EWOULDBLOCK) return Result::AlreadyRunning;
    error_ = "cannot lock " + path + ": " + std::strerror(err);
    return Result::Failed;
}

// What goes through the FIFO: kShowByte alone asks for the window; kFolderByte, the folder and '\n'
// ask for the window and that folder. One request is one write of at most PIPE_BUF bytes, so requests
// of several starts never mix.
constexpr char kShowByte = 1;
constexpr char kFolderByte = 'F';

int CInstanceGuard::WatchShowRequests(Request onRequest) {
    if (fd_ < 0 || watcher_.joinable()) return 0;
    const std::string path = ShowPath();
    // Only this user's own FIFO is used: anything else there is left alone, and no window comes forward.
    if (mkfifo(path.c_str(), 0600) != 0 && errno != EEXIST) return 0;
    fifoFd_ = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOFOLLOW);
    struct stat st {};
    if (fifoFd_ < 0 || fstat(fifoFd_, &st) != 0 || !S_ISFIFO(st.st_mode) || st.st_uid != getuid()) {
        StopWatching();
        return 0;
    }
    fifoKeep_ = open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC | O_NOFOLLOW);
    if (fifoKeep_ < 0 || pipe2(stopPipe_, O_CLOEXEC) != 0) {
        StopWatching();
        return 0;
    }
    const int fifo = fifoFd_;
    const int stop = stopPipe_[0];
    watcher_ = std::thread([fifo, stop, onRequest = std::move(onRequest)] {
        std::string pending;
        for (;;) {
            pollfd fds[2] = {{fifo, POLLIN, 0}, {stop, POLLIN, 0}};
            if (poll(fds, 2, -1) < 0) {
                if (errno == EINTR) continue;
                return;
            }
            if (fds[1].revents != 0) return;
            if ((fds[0].revents & POLLIN) == 0) continue;
            char bytes[512];
            ssize_t n;
            while ((n = read(fifo, bytes, sizeof bytes)) > 0) pending.append(bytes, static_cast<size_t>(n));
            // Several plain starts in a row bring the window forward once; every folder is handed on.
            bool show = false;
            size_t at = 0;
            while (at < pending.size()) {
                if (pending[at] == kFolderByte) {
                    const size_t end = pending.find('\n', at);
                    if (end == std::string::npos) break;  // the rest of it is still to come
                    onRequest(pending.substr(at + 1, end - at - 1));
                    at = end + 1;
                    show = false;
                } else {
                    show |= pending[at] == kShowByte;
                    ++at;
                }
            }
            pending.erase(0, at);
            if (show) onRequest(std::string());
        }
    });
    return 1;
}

void CInstanceGuard::StopWatching() {
    if (watcher_.joinable()) {
        const char byte = 1;
        [[maybe_unused]] const ssize_t ignored = write(stopPipe_[1], &byte, 1);
        watcher_.join();
    }
    for (int* fd : {&fifoFd_, &fifoKeep_, &stopPipe_[0], &stopPipe_[1]}) {
        if (*fd >= 0) close(*fd);
        *fd = -1;
    }
}

int CInstanceGuard::AskRunningToShow(const std::string& folder) {
    std::string request(1, kShowByte);
    if (!folder.empty()) {
        if (folder.size() > kMaxFolderBytes || folder.find('\n') != std::string::npos) return 0;
        request = kFolderByte + folder + '\n';
    }
    // Non-blocking: with nobody reading (an instance that does not watch), the open fails at once.
    const int fd = open(ShowPath().c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) return 0;
    struct stat st {};
    const bool ok = fstat(fd, &st) == 0 && S_ISFIFO(st.st_mode) &&
                    write(fd, request.data(), request.size()) == static_cast<ssize_t>(request.size());
    close(fd);
    return ok ? 1 : 0;
}
