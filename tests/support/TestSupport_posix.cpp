// Pseudo-terminals and temporary folders the POSIX way.
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <stdexcept>

#include "support/TestSupport.h"

namespace testsupport {

PtyPair::PtyPair() {
    char name[256] = {};
    int slave = -1;
    if (openpty(&master_, &slave, name, nullptr, nullptr) != 0) throw std::runtime_error("openpty failed");
    // Raw on both sides, so no byte is translated or echoed.
    termios tio{};
    tcgetattr(slave, &tio);
    cfmakeraw(&tio);
    tcsetattr(slave, TCSANOW, &tio);
    slaveKeepAlive_ = slave;
    slavePath_ = name;
}

PtyPair::~PtyPair() {
    if (slaveKeepAlive_ >= 0) close(slaveKeepAlive_);
    if (master_ >= 0) close(master_);
}

void PtyPair::WriteMaster(const std::vector<uint8_t>& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = write(master_, bytes.data() + done, bytes.size() - done);
        if (n <= 0) throw std::runtime_error("write to pty master failed");
        done += static_cast<size_t>(n);
    }
}

std::vector<uint8_t> PtyPair::ReadMaster(size_t count, int timeoutMs) {
    std::vector<uint8_t> out;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ScaledMs(timeoutMs));
    while (out.size() < count) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now()).count();
        if (left <= 0) break;
        pollfd pfd{master_, POLLIN, 0};
        if (poll(&pfd, 1, static_cast<int>(left)) <= 0) continue;
        uint8_t buffer[4096];
        const ssize_t n = read(master_, buffer, std::min(sizeof buffer, count - out.size()));
        if (n > 0) out.insert(out.end(), buffer, buffer + n);
    }
    return out;
}

TempDir::TempDir() {
    char pattern[] = "/tmp/iap-test-XXXXXX";
    if (mkdtemp(pattern) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

}  // namespace testsupport
