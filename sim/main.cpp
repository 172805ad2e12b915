// iap-devsim: plays the speed-camera warning device on a pseudo-terminal (or a serial device), so
// the IAP tool can be run end to end without hardware. See --help.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>
#include <vector>

#include "engine/frame/Trace.h"
#include "sim/FaultSeed.h"
#include "sim/LineIo.h"
#include "sim/Options.h"
#include "sim/Recorder.h"
#include "sim/Samples.h"
#include "sim/SettingsBlocks.h"
#include "sim/Simulator.h"

namespace {

constexpr unsigned kDeviceDefaultBaud = 256000;

int g_stopPipeWrite = -1;

void OnStopSignal(int) {
    const int saved = errno;
    const char byte = 1;
    // Async-signal-safe; a full pipe already holds a stop request, so a failed write loses nothing.
    [[maybe_unused]] const ssize_t ignored = write(g_stopPipeWrite, &byte, 1);
    errno = saved;
}

int InstallStopSignals(int& readEnd) {
    int fds[2];
    if (pipe2(fds, O_NONBLOCK | O_CLOEXEC) != 0) return 0;
    readEnd = fds[0];
    g_stopPipeWrite = fds[1];
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    if (sigaction(SIGINT, &action, nullptr) != 0 || sigaction(SIGTERM, &action, nullptr) != 0) return 0;
    // A test that closes our stdout early must not kill us in the middle of writing the output.
    signal(SIGPIPE, SIG_IGN);
    return 1;
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

    int stopFd = -1;
    if (!InstallStopSignals(stopFd)) return Fail("cannot install the signal handlers", 1);

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
