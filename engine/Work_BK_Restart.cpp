// The device restarting after its firmware. A device with its own USB serial interface enumerates
// again when it restarts: its port closes during the pause after the firmware end and comes back a
// moment later. That loss is the restart the pause waits for, not a failure: the firmware step stays
// a success, and after the pause the device is looked for again (its own port first, then the scan),
// the handshake and the settings reads are done again, and the run goes on with the images left.
#include <chrono>

#include "engine/DealMsg.h"
#include "base/Trace.h"
#include "engine/Work_BK.h"

namespace {

using Clock = std::chrono::steady_clock;

// How often the ports are looked at while the device is away.
constexpr std::chrono::milliseconds kRestartLookEvery{200};
// How often the wait for the settings reads looks at the queue.
constexpr std::chrono::milliseconds kSettleLookEvery{20};

const wchar_t* const kNotBackText =
    L"ПО устройства записано, но после перезапуска устройство не вернулось на связь; запустите обновление "
    L"ещё раз, чтобы передать остальное";

}  // namespace

bool CWork_BK::TakeLineLossAsRestart(const std::wstring& text) {
    if (!awaitingRestart_.load() || !RunActive() || RunFailed()) return false;
    restartLineLost_.store(true);
    // Not LineLost: a connect thread that keeps looking would start a scan of its own, and the
    // window would take the device for gone; the pause job looks for it.
    connectState_.store(ConnectState::Restarting);
    Trace(L"[CWork_BK] %ls during the pause after the firmware: the device restarts\r\n", text.c_str());
    return true;
}

bool CWork_BK::RestartWaitOver(int generation) const {
    return pauseGeneration_.load() != generation || RunFailed() || !RunActive() || scanAbort_.load();
}

bool CWork_BK::OpenAfterRestart(int generation, std::vector<std::pair<std::string, PortSeen>>& seen) {
    {
        std::lock_guard<std::mutex> lock(portMutex_);
        // Checked under the port's lock: a stop closes the port under it after it has ended the run,
        // so no port is opened again behind it.
        if (RestartWaitOver(generation)) return false;
        if (serial_.LineFailed()) serial_.Close();
        // The port's number in the list, not the number the device was told (COM20 may be port 1).
        const unsigned port = serial_.OpenedPort();
        if (port != 0 && port <= 255 && serial_.Open(static_cast<uint8_t>(port), baudRate_.load(), 8, SERIAL_PARITY_NONE, SERIAL_ONE_STOP_BIT)) return true;
    }
    // Every port is looked at again on each pass: the device may come back under another number.
    seen.clear();
    return !RestartWaitOver(generation) && ScanPorts(seen, 0);
}

bool CWork_BK::ReconnectAfterRestart(int generation, Clock::time_point deadline) {
    // The dead port is closed on the line closer; wait for it before the port is opened again.
    JoinLineCloser();
    NotifyConnect(ConnectState::Restarting);
    std::vector<std::pair<std::string, PortSeen>> seen;
    while (!RestartWaitOver(generation) && Clock::now() < deadline) {
        const uint32_t readyBefore = readyCount_.load();
        const uint32_t infoAskedBefore = settingsInfoAsked_.load();
        if (OpenAfterRestart(generation, seen)) {
            // The device answered the handshake: wait for its information, then for the two settings
            // reads it makes the driver queue (both answered or dropped empties the queue). The queue
            // empties without a signal here, so the wait looks again every slice.
            const auto settledOrGone = [&] {
                if (RestartWaitOver(generation) || serial_.LineFailed()) return true;
                return readyCount_.load() != readyBefore && settingsInfoAsked_.load() != infoAskedBefore &&
                       TaskCount() == 0;
            };
            // The queue's lock is taken outside the pause's: a failing run takes them the other way.
            bool settled = false;
            for (;;) {
                settled = settledOrGone();
                if (settled || Clock::now() >= deadline) break;
                std::unique_lock<std::mutex> lock(pauseMutex_);
                pauseWake_.wait_for(lock, kSettleLookEvery,
                                    [&] { return RestartWaitOver(generation) || serial_.LineFailed(); });
            }
            if (settled && !RestartWaitOver(generation) && !serial_.LineFailed()) {
                connectState_.store(ConnectState::Connected);
                Trace(L"[CWork_BK] the device is back after its restart\r\n");
                return true;
            }
            if (!settled) break;
            // Lost again (the device enumerated once more): look again.
            continue;
        }
        std::unique_lock<std::mutex> lock(pauseMutex_);
        pauseWake_.wait_for(lock, kRestartLookEvery, [&] { return RestartWaitOver(generation); });
    }
    return false;
}

void CWork_BK::ContinueAfterFirmware(CDealMsg& driver, int generation, Clock::time_point deadline) {
    if (!restartLineLost_.exchange(false)) {
        awaitingRestart_.store(false);
        driver.StartNextImage(StepProject);
        return;
    }
    const bool back = ReconnectAfterRestart(generation, deadline);
    awaitingRestart_.store(false);
    if (RestartWaitOver(generation)) return;
    const int next = StepAfterFirmware();
    if (!back) {
        Trace(L"[CWork_BK] the device did not come back within %u ms after the pause\r\n", kRestartGraceMs);
        {
            std::lock_guard<std::mutex> lock(lineMutex_);
            lineLostReason_ = kNotBackText;
        }
        connectState_.store(ConnectState::LineLost);
        NotifyConnect(ConnectState::LineLost);
        // A connect thread that keeps looking goes on with the search.
        WakeConnectThread();
    }
    // With nothing left to send the run has done all it had to, whether the device is back or not.
    if (back || next == StepFinished) {
        driver.StartNextImage(StepProject);
        return;
    }
    // The firmware step has ended well; what fails is the step that could not be sent.
    FailRun(next, kNotBackText);
}

int CWork_BK::StepAfterFirmware() const {
    for (const ImageRow& row : ImageRows())
        if (row.step != StepProject && PacketCount(row.step) > 0) return row.step;
    return SettingsPending() ? StepSettings : StepFinished;
}
