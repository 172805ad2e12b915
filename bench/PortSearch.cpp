// How long the device search takes with other ports on the machine: eight silent ports (pseudo-
// terminals nobody answers on) before the device, and one port whose open blocks for 5 s (as a
// Bluetooth serial port's does) before it. Each case runs the search that probes every port at once,
// and, for comparison, the one-by-one scan the tool used before (CSerial::Open per port in order).
// Usage: iap-bench-port-search DEVICE_PATH [repeats]   (DEVICE_PATH: an iap-devsim pseudo-terminal)
#include <pty.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "engine/DeviceProbe.h"
#include "transport/PortList.h"
#include "transport/Serial.h"
#include "transport/SerialBackend.h"

namespace {

using Clock = std::chrono::steady_clock;

// A port whose open takes `blockMs` before it does what the platform's back end does.
class SlowOpenBackend final : public CSerialBackend {
public:
    SlowOpenBackend(std::string slowPath, uint32_t blockMs)
        : slowPath_(std::move(slowPath)), blockMs_(blockMs), real_(CreateSerialBackend()) {}
    SerialOpenStatus OpenDevice(const std::string& path) override {
        if (path == slowPath_) std::this_thread::sleep_for(std::chrono::milliseconds(blockMs_));
        return real_->OpenDevice(path);
    }
    int Purge() override { return real_->Purge(); }
    int PurgeInput() override { return real_->PurgeInput(); }
    int DrainOutput(uint32_t ms) override { return real_->DrainOutput(ms); }
    int SetHandshakeTimeouts() override { return real_->SetHandshakeTimeouts(); }
    int SetTransferTimeouts() override { return real_->SetTransferTimeouts(); }
    int SetLine(const SerialLineSettings& line) override { return real_->SetLine(line); }
    int Read(uint8_t* buffer, int capacity) override { return real_->Read(buffer, capacity); }
    int ReadAvailable(uint8_t* buffer, int capacity, uint32_t ms) override {
        return real_->ReadAvailable(buffer, capacity, ms);
    }
    SerialWriteResult Write(const uint8_t* data, uint32_t length) override { return real_->Write(data, length); }
    SerialLowLatency RequestLowLatency() override { return real_->RequestLowLatency(); }
    void EndReading() override { real_->EndReading(); }
    void CloseDevice() override { real_->CloseDevice(); }
    bool IsOpen() const override { return real_->IsOpen(); }
    std::string LastErrorText() const override { return real_->LastErrorText(); }

private:
    std::string slowPath_;
    uint32_t blockMs_;
    std::unique_ptr<CSerialBackend> real_;
};

struct SilentPort {
    int master = -1;
    int slave = -1;
    std::string path;
};

SilentPort OpenSilentPort() {
    SilentPort port;
    char name[256] = {};
    if (openpty(&port.master, &port.slave, name, nullptr, nullptr) != 0) {
        std::perror("iap-bench-port-search: openpty");
        std::exit(1);
    }
    port.path = name;
    return port;
}

const CDeviceProbe kProbe;

// Seconds until the device's port is open, and whether it was the device's.
double TimeSearch(const std::vector<std::string>& paths, const std::string& device, bool parallel,
                  const std::string& slowPath, uint32_t blockMs) {
    SetPortList(paths);
    CSerial serial(slowPath.empty() ? nullptr : std::make_unique<SlowOpenBackend>(slowPath, blockMs), nullptr, 10);
    serial.SetProbe(&kProbe);
    if (!slowPath.empty())
        serial.SetBackendFactory([&] { return std::make_unique<SlowOpenBackend>(slowPath, blockMs); });
    const auto start = Clock::now();
    bool opened = false;
    if (parallel) {
        const std::atomic<bool> stop{false};
        std::vector<std::pair<std::string, CSerial::OpenError>> tried;
        opened = serial.OpenFirstAnswering(SearchCandidates(SERIAL_PORT_LIMIT), 9600, 8, 0, 0, stop, tried) != 0;
    } else {
        for (unsigned port = 1; port <= paths.size() && !opened; ++port) opened = serial.Open(static_cast<uint8_t>(port), 9600, 8, 0, 0) != 0;
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    if (!opened || serial.LastPortName() != device) {
        std::fprintf(stderr, "iap-bench-port-search: the device was not found (%s)\n", serial.LastPortName().c_str());
        std::exit(1);
    }
    serial.Close();
    return seconds;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: iap-bench-port-search DEVICE_PATH [repeats]\n");
        return 64;
    }
    const std::string device = argv[1];
    const int repeats = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
    std::vector<SilentPort> silent;
    for (int i = 0; i < 9; ++i) silent.push_back(OpenSilentPort());

    std::vector<std::string> eightSilent;
    for (int i = 0; i < 8; ++i) eightSilent.push_back(silent[static_cast<size_t>(i)].path);
    eightSilent.push_back(device);
    const std::string blocking = silent[8].path;
    const std::vector<std::string> oneBlocking = {blocking, device};
    const uint32_t blockMs = 5000;

    struct Row {
        const char* name;
        const std::vector<std::string>* paths;
        std::string slow;
    };
    const Row rows[] = {{"8 silent ports before the device", &eightSilent, ""},
                        {"1 port whose open blocks 5 s before the device", &oneBlocking, blocking}};
    for (const Row& row : rows) {
        for (const bool parallel : {false, true}) {
            std::vector<double> times;
            // The one-by-one scan is slow and steady: one run says enough.
            for (int i = 0; i < (parallel ? repeats : 1); ++i)
                times.push_back(TimeSearch(*row.paths, device, parallel, row.slow, blockMs));
            std::printf("  %-48s %-16s %.2f s (median of %zu)\n", row.name, parallel ? "all at once" : "one by one",
                        Median(times), times.size());
            std::fflush(stdout);
        }
    }
    // A blocked open left behind ends by itself; give it time before the ports go.
    std::this_thread::sleep_for(std::chrono::milliseconds(blockMs + 200));
    for (SilentPort& port : silent) {
        close(port.master);
        close(port.slave);
    }
    return 0;
}
