// The termios back end of CSerial (Linux, macOS and other POSIX systems).
//
// The descriptor stays non-blocking for its whole life and every wait is a poll(): both time-out
// regimes are built from poll timeouts, and a write to a far end that has stopped reading never
// blocks the writer inside the kernel, where nothing (not even a close) could end it.
#include "transport/SerialBackend.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <mutex>
#include <shared_mutex>
#include <thread>

#include "base/OsErrorText.h"
#include "base/Text.h"
#include "base/Trace.h"
#include "transport/UucpLock.h"

#if defined(__linux__)
#include <linux/serial.h>

#include "transport/Termios2_linux.h"
#endif
#if defined(__APPLE__)
#include <IOKit/serial/ioss.h>
#endif

namespace {

using Clock = std::chrono::steady_clock;

// A wait is cut into slices this long so that a close ends it promptly.
constexpr int kWaitSliceMs = 50;
// Where serial programs put their UUCP lock files (a link to /run/lock on current systems).
constexpr const char* kUucpLockFolder = "/var/lock";
// Handshake regime, as the Win32 comm time-outs of the same port would give it. The gap between
// bytes is nominally 1 ms there, but Windows runs that timer at its clock resolution (about 16 ms),
// so an answer that arrives in pieces (USB adapter packets, a slow scan rate, where one byte alone
// takes a millisecond) still passes the handshake. A strict 1 ms would cut such an answer short.
constexpr int kReadIntervalMs = 16;
constexpr int kReadTotalConstantMs = 1;
constexpr int kReadTotalPerByteMs = 1;
constexpr int kWriteTotalConstantMs = 500;
constexpr int kWriteTotalPerByteMs = 100;
// A rate without a B-constant is first set to this one, then reprogrammed by the platform's own call.
constexpr speed_t kPlaceholderSpeed = B38400;

thread_local int t_lastErrno = 0;

void Remember(int error) { t_lastErrno = error; }

// strerror_r comes in two shapes (GNU returns the text, XSI fills the buffer).
[[maybe_unused]] const char* ErrorTextOf(int /*xsiResult*/, const char* buffer) { return buffer; }
[[maybe_unused]] const char* ErrorTextOf(const char* gnuResult, const char* /*buffer*/) { return gnuResult; }

std::string ErrnoText(int error) {
    char buffer[256] = {};
    return ErrorTextOf(strerror_r(error, buffer, sizeof buffer), buffer);
}

struct RateCode {
    uint32_t baud;
    speed_t code;
};

constexpr RateCode kStandardRates[] = {
    {50, B50}, {75, B75}, {110, B110}, {134, B134}, {150, B150}, {200, B200}, {300, B300},
    {600, B600}, {1200, B1200}, {1800, B1800}, {2400, B2400}, {4800, B4800}, {9600, B9600},
    {19200, B19200}, {38400, B38400}, {57600, B57600}, {115200, B115200}, {230400, B230400},
#ifdef B460800
    {460800, B460800},
#endif
#ifdef B500000
    {500000, B500000},
#endif
#ifdef B576000
    {576000, B576000},
#endif
#ifdef B921600
    {921600, B921600},
#endif
#ifdef B1000000
    {1000000, B1000000},
#endif
#ifdef B1152000
    {1152000, B1152000},
#endif
#ifdef B1500000
    {1500000, B1500000},
#endif
#ifdef B2000000
    {2000000, B2000000},
#endif
#ifdef B2500000
    {2500000, B2500000},
#endif
#ifdef B3000000
    {3000000, B3000000},
#endif
#ifdef B3500000
    {3500000, B3500000},
#endif
#ifdef B4000000
    {4000000, B4000000},
#endif
};

bool FindStandardRate(uint32_t baud, speed_t* code) {
    for (const RateCode& rate : kStandardRates) {
        if (rate.baud == baud) {
            *code = rate.code;
            return true;
        }
    }
    return false;
}

// Rates without a B-constant (256000 among them) go through the platform's own interface.
bool SetCustomRate(int fd, uint32_t baud) {
#if defined(__linux__)
    return Termios2SetSpeed(fd, baud) != 0;
#elif defined(__APPLE__)
    speed_t speed = static_cast<speed_t>(baud);
    return ioctl(fd, IOSSIOSPEED, &speed) == 0;
#else
    (void)fd;
    (void)baud;
    errno = EINVAL;
    return false;
#endif
}

// Pseudo-terminals and some adapters have no modem lines; the line settings still hold for them.
bool SetModemLine(int fd, int line, bool asserted) {
    int bits = line;
    if (ioctl(fd, asserted ? TIOCMBIS : TIOCMBIC, &bits) == 0) return true;
    return errno == ENOTTY || errno == EINVAL;
}

SerialOpenStatus StatusOfOpenErrno(int error) {
    switch (error) {
        case ENOENT:
        case ENODEV:
        case ENXIO:
        case ENOTDIR: return SerialOpenStatus::Missing;
        case EACCES:
        case EPERM: return SerialOpenStatus::PermissionDenied;
        case EBUSY: return SerialOpenStatus::Busy;
        default: return SerialOpenStatus::Other;
    }
}

class CSerialBackend_Posix final : public CSerialBackend {
public:
    CSerialBackend_Posix() = default;
    ~CSerialBackend_Posix() override { CloseDevice(); }
    CSerialBackend_Posix(const CSerialBackend_Posix&) = delete;
    CSerialBackend_Posix& operator=(const CSerialBackend_Posix&) = delete;

    SerialOpenStatus OpenDevice(const std::string& path) override;
    int Purge() override;
    int PurgeInput() override;
    // tcflush of `queues` (TCIFLUSH, TCOFLUSH or TCIOFLUSH) on the open descriptor.
    int Flush(int queues);
    // The descriptor to read into `buffer`, or -1 (EINVAL or EBADF remembered). Caller holds lifetime_.
    int ReadableFd(const uint8_t* buffer, int capacity);
    int DrainOutput(uint32_t timeoutMs) override;
    int SetHandshakeTimeouts() override { return SetRegime(Regime::Handshake); }
    int SetTransferTimeouts() override { return SetRegime(Regime::Transfer); }
    int SetLine(const SerialLineSettings& settings) override;
    int Read(uint8_t* buffer, int capacity) override;
    int ReadAvailable(uint8_t* buffer, int capacity, uint32_t waitMs) override;
    SerialWriteResult Write(const uint8_t* data, uint32_t length) override;
    SerialLowLatency RequestLowLatency() override;
    void CloseDevice() override;
    bool IsOpen() const override { return fd_.load() >= 0; }
    std::string LastErrorText() const override { return t_lastErrno == 0 ? std::string() : ErrnoText(t_lastErrno); }
    std::string LastErrorTextForUser() const override {
        if (t_lastErrno == 0) return std::string();
        return WideToUtf8(::ErrnoText(t_lastErrno, Utf8ToWide(ErrnoText(t_lastErrno))));
    }

private:
    enum class Regime { Handshake, Transfer };
    enum : int { kWaitFailed = -1, kWaitTimedOut = 0 };

    int SetRegime(Regime regime);
    // Polls fd for `events` for up to timeoutMs (negative: no limit). The revents seen, kWaitTimedOut,
    // or kWaitFailed (poll failure or the device being closed).
    int WaitFor(int fd, short events, int timeoutMs);
    // One read(): bytes read, 0 when nothing was there, -1 on failure or end of file.
    static int ReadOnce(int fd, uint8_t* buffer, int capacity);
    int ReadHandshake(int fd, uint8_t* buffer, int capacity);
    int ReadAvailableLocked(int fd, uint8_t* buffer, int capacity, int waitMs);

    std::atomic<int> fd_{-1};
    std::atomic<bool> closing_{false};
    std::atomic<Regime> regime_{Regime::Handshake};
    // The line as SetLine last programmed it, for the bound of a transfer write (the writer reads it
    // while the controlling thread may reprogram the line).
    std::atomic<uint32_t> lineBaud_{0};
    std::atomic<uint32_t> lineBitsPerByte_{10};
    // The driver flags (serial_struct.flags) to put back at close; set only when we changed them.
    // Controlling thread only.
    bool restoreSerialFlags_ = false;
    int savedSerialFlags_ = 0;
    // Held shared by every operation that uses fd_, exclusively while it is opened or closed.
    std::shared_mutex lifetime_;
};

SerialOpenStatus CSerialBackend_Posix::OpenDevice(const std::string& path) {
    CloseDevice();
    // A program that claims ports by lock file only would have its line probed under it; the open
    // itself would already raise DTR.
    if (const int holder = LiveUucpLockHolder(kUucpLockFolder, path); holder != 0) {
        Remember(EBUSY);
        Trace(L"[CSerial] %ls: claimed by process %d (lock file in %hs)\r\n", Utf8ToWide(path).c_str(), holder,
              kUucpLockFolder);
        return SerialOpenStatus::Busy;
    }
    std::unique_lock<std::shared_mutex> lock(lifetime_);
    // O_NONBLOCK also keeps open() from waiting for carrier detect before CLOCAL is set.
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        Remember(error);
        return StatusOfOpenErrno(error);
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        if (error == EWOULDBLOCK) {
            Remember(error);
            ::close(fd);
            return SerialOpenStatus::Busy;
        }
        // A device without lock support is still usable; TIOCEXCL below keeps others out.
    }
    // Refuses further opens of the tty by anyone but root; the flock above covers root too.
    ioctl(fd, TIOCEXCL);
    regime_.store(Regime::Handshake);
    fd_.store(fd);
    return SerialOpenStatus::Ok;
}

int CSerialBackend_Posix::Purge() { return Flush(TCIOFLUSH); }

int CSerialBackend_Posix::PurgeInput() { return Flush(TCIFLUSH); }

int CSerialBackend_Posix::Flush(int queues) {
    std::shared_lock<std::shared_mutex> lock(lifetime_);
    const int fd = fd_.load();
    if (fd < 0) return 0;
    if (tcflush(fd, queues) == 0) return 1;
    Remember(errno);
    return 0;
}

int CSerialBackend_Posix::DrainOutput(uint32_t timeoutMs) {
    std::shared_lock<std::shared_mutex> lock(lifetime_);
    const int fd = fd_.load();
    if (fd < 0) return 0;
    // tcdrain has no time-out, and a far end that stopped reading would hold it for ever; the output
    // queue's fill is watched instead.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        int queued = 0;
        if (ioctl(fd, TIOCOUTQ, &queued) != 0) {
            Remember(errno);
            return 0;
        }
        if (queued <= 0) return 1;
        if (std::chrono::steady_clock::now() >= deadline) return 0;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
}

int CSerialBackend_Posix::SetRegime(Regime regime) {
    if (!IsOpen()) {
        Remember(EBADF);
        return 0;
    }
    regime_.store(regime);
    return 1;
}

int CSerialBackend_Posix::SetLine(const SerialLineSettings& settings) {
    std::shared_lock<std::shared_mutex> lock(lifetime_);
    const int fd = fd_.load();
    if (fd < 0) {
        Remember(EBADF);
        return 0;
    }
    const bool valid = settings.baud > 0 && settings.byteSize >= 5 && settings.byteSize <= 8 &&
                       settings.parity <= 2 && (settings.stopBits == 0 || settings.stopBits == 2);
    if (!valid) {
        Remember(EINVAL);
        return 0;
    }

    termios tio{};
    if (tcgetattr(fd, &tio) != 0) {
        Remember(errno);
        return 0;
    }
    cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CSTOPB);
#ifdef CRTSCTS
    tio.c_cflag &= ~static_cast<tcflag_t>(CRTSCTS);
#endif
#ifdef CMSPAR
    tio.c_cflag &= ~static_cast<tcflag_t>(CMSPAR);
#endif
    static constexpr tcflag_t kSizeFlags[] = {CS5, CS6, CS7, CS8};
    tio.c_cflag |= kSizeFlags[settings.byteSize - 5];
    if (settings.parity == 1) tio.c_cflag |= PARENB | PARODD;
    if (settings.parity == 2) tio.c_cflag |= PARENB;
    if (settings.stopBits == 2) tio.c_cflag |= CSTOPB;
    tio.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY | INPCK);
    // Reads never block in the driver; the time-out regimes are poll() waits.
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;

    speed_t code = kPlaceholderSpeed;
    const bool standard = FindStandardRate(settings.baud, &code);
    if (!standard) code = kPlaceholderSpeed;
    if (cfsetispeed(&tio, code) != 0 || cfsetospeed(&tio, code) != 0 || tcsetattr(fd, TCSANOW, &tio) != 0) {
        Remember(errno);
        return 0;
    }
    if (!standard && !SetCustomRate(fd, settings.baud)) {
        Remember(errno);
        return 0;
    }
    if (!SetModemLine(fd, TIOCM_DTR, settings.dtr) || !SetModemLine(fd, TIOCM_RTS, settings.rts)) {
        Remember(errno);
        return 0;
    }
    lineBaud_.store(settings.baud);
    lineBitsPerByte_.store(SerialBitsPerByte(settings));
    return 1;
}

int CSerialBackend_Posix::WaitFor(int fd, short events, int timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
    for (;;) {
        if (closing_.load()) {
            Remember(ECANCELED);
            return kWaitFailed;
        }
        int slice = kWaitSliceMs;
        if (timeoutMs >= 0) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
            slice = static_cast<int>(std::clamp<long long>(left, 0, kWaitSliceMs));
        }
        pollfd request{fd, events, 0};
        const int ready = poll(&request, 1, slice);
        if (ready > 0) return request.revents;
        if (ready < 0 && errno != EINTR) {
            Remember(errno);
            return kWaitFailed;
        }
        if (timeoutMs >= 0 && Clock::now() >= deadline) return kWaitTimedOut;
    }
}

int CSerialBackend_Posix::ReadOnce(int fd, uint8_t* buffer, int capacity) {
    const ssize_t count = ::read(fd, buffer, static_cast<size_t>(capacity));
    if (count > 0) return static_cast<int>(count);
    if (count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return 0;
    // A tty that polled readable and then reads nothing has hung up.
    Remember(count == 0 ? EIO : errno);
    return -1;
}

int CSerialBackend_Posix::ReadAvailableLocked(int fd, uint8_t* buffer, int capacity, int waitMs) {
    const int events = WaitFor(fd, POLLIN, waitMs);
    if (events == kWaitFailed) return -1;
    if (events == kWaitTimedOut) return 0;
    if (events & POLLIN) return ReadOnce(fd, buffer, capacity);
    Remember(EIO);
    return -1;
}

int CSerialBackend_Posix::ReadHandshake(int fd, uint8_t* buffer, int capacity) {
    const auto start = Clock::now();
    const auto total = std::chrono::milliseconds(kReadTotalConstantMs + kReadTotalPerByteMs * capacity);
    int got = 0;
    while (got < capacity) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(total - (Clock::now() - start)).count();
        if (left <= 0) break;
        // Before the first byte the whole read time-out applies; after it, the gap between bytes.
        const int waitMs = static_cast<int>(got == 0 ? left : std::min<long long>(left, kReadIntervalMs));
        const int count = ReadAvailableLocked(fd, buffer + got, capacity - got, waitMs);
        if (count < 0) return got > 0 ? got : -1;
        if (count == 0) {
            if (got > 0 || Clock::now() - start >= total) break;
            continue;
        }
        got += count;
    }
    return got;
}

int CSerialBackend_Posix::ReadableFd(const uint8_t* buffer, int capacity) {
    if (buffer == nullptr || capacity <= 0) {
        Remember(EINVAL);
        return -1;
    }
    const int fd = fd_.load();
    if (fd < 0) Remember(EBADF);
    return fd;
}

int CSerialBackend_Posix::Read(uint8_t* buffer, int capacity) {
    std::shared_lock<std::shared_mutex> lock(lifetime_);
    const int fd = ReadableFd(buffer, capacity);
    if (fd < 0) return -1;
    if (regime_.load() == Regime::Transfer) return ReadAvailableLocked(fd, buffer, capacity, 0);
    return ReadHandshake(fd, buffer, capacity);
}

int CSerialBackend_Posix::ReadAvailable(uint8_t* buffer, int capacity, uint32_t waitMs) {
    std::shared_lock<std::shared_mutex> lock(lifetime_);
    const int fd = ReadableFd(buffer, capacity);
    if (fd < 0) return -1;
    const int boundedWaitMs = static_cast<int>(std::min<uint32_t>(waitMs, 0x7FFFFFFF));
    return ReadAvailableLocked(fd, buffer, capacity, boundedWaitMs);
}

SerialWriteResult CSerialBackend_Posix::Write(const uint8_t* data, uint32_t length) {
    using Status = SerialWriteResult::Status;
    SerialWriteResult result;
    if (data == nullptr || length == 0) {
        Remember(EINVAL);
        return result;
    }
    std::shared_lock<std::shared_mutex> lock(lifetime_);
    const int fd = fd_.load();
    if (fd < 0) {
        Remember(EBADF);
        return result;
    }
    // Both regimes are bounded: a far end that stops reading fills the line's buffer, and a write
    // without a bound would then hold the writer until someone closes the port.
    result.limitMs = regime_.load() == Regime::Handshake
                         ? static_cast<uint32_t>(std::min<long long>(
                               kWriteTotalConstantMs + static_cast<long long>(kWriteTotalPerByteMs) * length, 0x7FFFFFFF))
                         : SerialWriteLimitMs(lineBaud_.load(), lineBitsPerByte_.load(), length);
    const auto deadline = Clock::now() + std::chrono::milliseconds(result.limitMs);

    while (result.written < length) {
        if (closing_.load()) {
            Remember(ECANCELED);
            return result;
        }
        const ssize_t count = ::write(fd, data + result.written, length - result.written);
        if (count > 0) {
            result.written += static_cast<uint32_t>(count);
            continue;
        }
        if (count < 0 && errno == EINTR) continue;
        if (count < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            Remember(errno);
            return result;
        }
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
        const int events = left <= 0 ? kWaitTimedOut : WaitFor(fd, POLLOUT, static_cast<int>(left));
        if (events == kWaitFailed) return result;
        if (events == kWaitTimedOut) {
            Remember(ETIMEDOUT);
            result.status = Status::Stalled;
            return result;
        }
        if (!(events & POLLOUT)) {
            Remember(EIO);
            return result;
        }
    }
    result.status = Status::Done;
    return result;
}

SerialLowLatency CSerialBackend_Posix::RequestLowLatency() {
#if defined(__linux__)
    std::shared_lock<std::shared_mutex> lock(lifetime_);
    const int fd = fd_.load();
    if (fd < 0) {
        Remember(EBADF);
        return SerialLowLatency::Failed;
    }
    serial_struct serial{};
    if (ioctl(fd, TIOCGSERIAL, &serial) != 0) {
        const int error = errno;
        Remember(error);
        // Pseudo-terminals and drivers without the serial core's interface.
        return error == ENOTTY || error == EINVAL ? SerialLowLatency::Unsupported : SerialLowLatency::Failed;
    }
    if (serial.flags & ASYNC_LOW_LATENCY) return SerialLowLatency::On;
    const int oldFlags = serial.flags;
    serial.flags |= ASYNC_LOW_LATENCY;
    if (ioctl(fd, TIOCSSERIAL, &serial) != 0) {
        const int error = errno;
        Remember(error);
        return error == ENOTTY || error == EINVAL ? SerialLowLatency::Unsupported : SerialLowLatency::Failed;
    }
    savedSerialFlags_ = oldFlags;
    restoreSerialFlags_ = true;
    return SerialLowLatency::On;
#else
    return SerialLowLatency::Unsupported;
#endif
}

void CSerialBackend_Posix::CloseDevice() {
    closing_.store(true);
    std::unique_lock<std::shared_mutex> lock(lifetime_);
    const int fd = fd_.exchange(-1);
#if defined(__linux__)
    if (fd >= 0 && restoreSerialFlags_) {
        // The adapter is shared with other programs: leave its latency as it was found.
        serial_struct serial{};
        if (ioctl(fd, TIOCGSERIAL, &serial) == 0) {
            serial.flags = savedSerialFlags_;
            ioctl(fd, TIOCSSERIAL, &serial);
        }
    }
    restoreSerialFlags_ = false;
#endif
    if (fd >= 0) {
        // Exclusive mode belongs to the tty, not to this descriptor: left set, it would keep every
        // later non-root opener out while any other descriptor of the tty stays open.
        ioctl(fd, TIOCNXCL);
        // Don't retry close in case of EINTR: the descriptor is gone either way.
        ::close(fd);
    }
    closing_.store(false);
}

}  // namespace

std::unique_ptr<CSerialBackend> CreateSerialBackend() { return std::make_unique<CSerialBackend_Posix>(); }
