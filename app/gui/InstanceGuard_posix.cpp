#include "app/gui/InstanceGuard.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

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

}  // namespace

CInstanceGuard::~CInstanceGuard() {
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
