#include "sim/LineIo.h"

#include <fcntl.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>

#include "base/Trace.h"
#include "sim/CustomBaud.h"

namespace {

std::string Reason(const std::string& what) { return what + ": " + std::strerror(errno); }

int MakeRaw(int fd) {
    termios tio{};
    if (tcgetattr(fd, &tio) != 0) return 0;
    cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    return tcsetattr(fd, TCSANOW, &tio) == 0 ? 1 : 0;
}

int SetFlags(int fd) {
    const int flags = fcntl(fd, F_GETFL);
    if (flags < 0 || fcntl(fd, F_SETFL, flags | O_NONBLOCK) != 0) return 0;
    return fcntl(fd, F_SETFD, FD_CLOEXEC) == 0 ? 1 : 0;
}

struct StandardRate {
    unsigned baud;
    speed_t code;
};
constexpr StandardRate kRates[] = {
    {50, B50},         {300, B300},       {1200, B1200},     {2400, B2400},     {4800, B4800},
    {9600, B9600},     {19200, B19200},   {38400, B38400},   {57600, B57600},   {115200, B115200},
    {230400, B230400}, {460800, B460800}, {500000, B500000}, {921600, B921600}, {1000000, B1000000},
};

}  // namespace

CLineIo::~CLineIo() { GoAway(); }

void CLineIo::GoAway() {
    if (!linkPath_.empty()) {
        char target[PATH_MAX] = {};
        const ssize_t n = readlink(linkPath_.c_str(), target, sizeof target - 1);
        if (n > 0 && path_ == std::string(target, static_cast<size_t>(n))) unlink(linkPath_.c_str());
    }
    if (slaveKeepAlive_ >= 0) close(slaveKeepAlive_);
    if (fd_ >= 0) close(fd_);
    slaveKeepAlive_ = -1;
    fd_ = -1;
}

int CLineIo::Reopen(std::string& error) {
    const std::string link = linkPath_;
    GoAway();
    linkPath_.clear();
    return OpenPty(link, error);
}

int CLineIo::OpenPty(const std::string& linkPath, std::string& error) {
    int master = -1;
    int slave = -1;
    char name[PATH_MAX] = {};
    if (openpty(&master, &slave, name, nullptr, nullptr) != 0) {
        error = Reason("openpty failed");
        return 0;
    }
    fd_ = master;
    slaveKeepAlive_ = slave;
    path_ = name;
    // Raw on the slave: the tool must see exactly the bytes written, no echo, no CR/LF mapping.
    if (!MakeRaw(slave) || !SetFlags(master) || fcntl(slave, F_SETFD, FD_CLOEXEC) != 0) {
        error = Reason("cannot make the pty raw");
        return 0;
    }
    return linkPath.empty() ? 1 : MakeLink(linkPath, error);
}

int CLineIo::MakeLink(const std::string& linkPath, std::string& error) {
    {
        struct stat info {};
        if (lstat(linkPath.c_str(), &info) == 0) {
            if (!S_ISLNK(info.st_mode)) {
                error = "--link " + linkPath + " exists and is not a symlink; not replacing it";
                return 0;
            }
            if (unlink(linkPath.c_str()) != 0) {
                error = Reason("cannot replace the old link " + linkPath);
                return 0;
            }
        }
        if (symlink(path_.c_str(), linkPath.c_str()) != 0) {
            error = Reason("cannot create the link " + linkPath);
            return 0;
        }
        linkPath_ = linkPath;
    }
    return 1;
}

int CLineIo::OpenDevice(const std::string& path, unsigned baud, std::string& error) {
    fd_ = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0) {
        error = Reason("cannot open " + path);
        return 0;
    }
    path_ = path;
    if (!MakeRaw(fd_)) {
        error = Reason(path + " is not a serial device");
        return 0;
    }
    termios tio{};
    tcgetattr(fd_, &tio);
    for (const StandardRate& rate : kRates) {
        if (rate.baud == baud) {
            cfsetispeed(&tio, rate.code);
            cfsetospeed(&tio, rate.code);
            if (tcsetattr(fd_, TCSANOW, &tio) != 0) {
                error = Reason("cannot set " + std::to_string(baud) + " baud on " + path);
                return 0;
            }
            return 1;
        }
    }
    if (SetCustomBaud(fd_, baud)) return 1;
    speed_t fallback = B50;
    unsigned fallbackBaud = 50;
    for (const StandardRate& rate : kRates) {
        if (rate.baud < baud) {
            fallback = rate.code;
            fallbackBaud = rate.baud;
        }
    }
    Trace(L"iap-devsim: %hs refuses %u baud, using %u\n", path.c_str(), baud, fallbackBaud);
    cfsetispeed(&tio, fallback);
    cfsetospeed(&tio, fallback);
    if (tcsetattr(fd_, TCSANOW, &tio) != 0) {
        error = Reason("cannot set the line speed of " + path);
        return 0;
    }
    return 1;
}

ssize_t CLineIo::Read(uint8_t* buffer, size_t size) {
    const ssize_t n = read(fd_, buffer, size);
    if (n >= 0) return n;
    if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) return 0;
    // A pty master reports EIO while no slave is open; ours never is, but treat it as "nothing".
    if (errno == EIO && slaveKeepAlive_ >= 0) return 0;
    return -1;
}

ssize_t CLineIo::Write(const uint8_t* data, size_t size) {
    const ssize_t n = write(fd_, data, size);
    if (n >= 0) return n;
    if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) return 0;
    if (errno == EIO && slaveKeepAlive_ >= 0) return 0;
    return -1;
}

int CLineIo::PendingForPeer() const {
    int pending = 0;
    if (slaveKeepAlive_ >= 0) {
        if (ioctl(slaveKeepAlive_, FIONREAD, &pending) != 0) return 0;
    } else if (fd_ >= 0) {
        if (ioctl(fd_, TIOCOUTQ, &pending) != 0) return 0;
    }
    return pending;
}
