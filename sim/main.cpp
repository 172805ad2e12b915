// iap-devsim: plays the speed-camera warning device on a pseudo-terminal (or a serial device), so
// the IAP tool can be run end to end without hardware. See --help.
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "base/Trace.h"
#include "sim/FaultSeed.h"
#include "sim/LineIo.h"
#include "sim/Options.h"
#include "sim/Recorder.h"
#include "sim/Samples.h"
#include "sim/SettingsBlocks.h"
#include "sim/Simulator.h"

namespace {

constexpr unsigned kDeviceDefaultBaud = 256000;

// SIGINT and SIGTERM are blocked and read from a signalfd in the simulator's poll set, so no
// handler runs at all. A handler that wrote to a self-pipe lost the stop request now and then under
// ThreadSanitizer: its runtime defers a signal that arrives outside a blocking call, and a SIGTERM sent
// right after the first output line (while the simulator is between that line and its first poll)
// left the simulator polling on an empty pipe until it was killed.
int BlockStopSignals() {
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGINT);
    sigaddset(&stop, SIGTERM);
    if (sigprocmask(SIG_BLOCK, &stop, nullptr) != 0) return -1;
    // A test that closes our stdout early must not kill us in the middle of writing the output.
    signal(SIGPIPE, SIG_IGN);
    return signalfd(-1, &stop, SFD_NONBLOCK | SFD_CLOEXEC);
}

int Fail(const std::string& message, int code) {
    std::fprintf(stderr, "iap-devsim: %s\n", message.c_str());
    return code;
}

}  // namespace

int main(int argc, char** argv) {
    // Standard output carries the slave path for whoever started us; diagnostics go elsewhere.
    SetTraceFile(stderr);

    SimOptions options;
    std::string error;
    if (!ParseOptions(std::vector<std::string>(argv + 1, argv + argc), options, error))
        return Fail(error, SIM_EXIT_USAGE);
    if (options.help) {
        std::fputs(UsageText().c_str(), stdout);
        return 0;
    }
    if (!options.makeSamplesDir.empty()) {
        if (!WriteSampleSet(options.makeSamplesDir, error)) return Fail(error, 1);
        return 0;
    }

    DeviceConfig config;
    config.firmwareVersion = options.firmwareVersion;
    config.dataVersion = options.dataVersion;
    config.radarVersion = options.radarVersion;
    if (!options.settingsFile.empty() && !LoadSettingsBlock(options.settingsFile, config.settings, error))
        return Fail(error, SIM_EXIT_USAGE);
    if (!options.settingsInfoFile.empty() &&
        !LoadSettingsBlock(options.settingsInfoFile, config.settingsInfo, error))
        return Fail(error, SIM_EXIT_USAGE);

    const int stopFd = BlockStopSignals();
    if (stopFd < 0) return Fail(std::string("cannot take the stop signals: ") + std::strerror(errno), 1);

    CRecorder recorder;
    if (!options.outDir.empty() && !recorder.Open(options.outDir, error)) return Fail(error, 1);
    if (options.hasSeed) {
        const std::string faults = JoinArgs(options.seedArgs);
        std::fprintf(stderr, "iap-devsim: --seed %u stands for: %s\n", static_cast<unsigned>(options.seed),
                     faults.empty() ? "(no fault)" : faults.c_str());
        recorder.NoteSeed(options.seed, faults);
    }

    CLineIo line;
    const bool lateLink = options.linkDelayMs > 0 && !options.linkPath.empty();
    const int opened = options.devicePath.empty()
                           ? line.OpenPty(lateLink ? std::string() : options.linkPath, error)
                           : line.OpenDevice(options.devicePath, options.baud ? options.baud : kDeviceDefaultBaud, error);
    if (!opened) return Fail(error, 1);

    std::printf("%s\n", line.Path().c_str());
    std::fflush(stdout);
    if (lateLink) {
        // Until the link is there the tool cannot find the line, as with an adapter not yet plugged in.
        pollfd stop{stopFd, POLLIN, 0};
        if (poll(&stop, 1, static_cast<int>(options.linkDelayMs)) > 0) return 0;
        if (!line.MakeLink(options.linkPath, error)) return Fail(error, 1);
    }

    CSimulator simulator(options, config, line, recorder);
    return simulator.Run(stopFd);
}
