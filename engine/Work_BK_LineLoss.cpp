// The engine's answer to a line that went away, or to a device that no longer takes data: the run in
// progress ends at once with the reason, the front ends see ConnectState::LineLost, and the port is
// closed on a thread of its own.
#include <string>
#include <system_error>

#include "base/Text.h"
#include "base/Trace.h"
#include "engine/Work_BK.h"

void CWork_BK::OnLineError(const std::string& reason) {
    LineGone(L"связь с устройством потеряна: " + Utf8ToWide(reason));
}

void CWork_BK::OnWriteStalled(uint32_t written, uint32_t length, uint32_t waitedMs) {
    // Tenths of a second with a decimal comma, as the user's locale writes them.
    const uint32_t tenths = (waitedMs + 50) / 100;
    LineGone(L"устройство не принимает данные (из " + std::to_wstring(length) + L" байт кадра за " +
             std::to_wstring(tenths / 10) + L"," + std::to_wstring(tenths % 10) + L" с ушло " +
             std::to_wstring(written) + L")");
}

void CWork_BK::LineGone(const std::wstring& text) {
    if (TakeLineLossAsRestart(text)) {
        ScheduleLineClose();
        return;
    }
    {
        std::lock_guard<std::mutex> lock(lineMutex_);
        lineLostReason_ = text;
    }
    // Set before the run is failed, so that the sender's writes to the dead line are not taken for
    // commands the device got.
    connectState_.store(ConnectState::LineLost);
    Trace(L"[CWork_BK] %ls\r\n", text.c_str());
    const int step = StepCutShort();
    // Told before the run's end, so that a window that shows the end knows the device is gone.
    NotifyConnect(ConnectState::LineLost);
    if (step != StepNone) {
        FailRun(step, text);
    } else {
        // Between runs: nothing is waited for, and queued reads would only wait out their slices.
        ClearTasks();
    }
    ScheduleLineClose();
    // A connect thread that keeps looking starts its search again.
    WakeConnectThread();
}

std::wstring CWork_BK::LineLostReason() const {
    std::lock_guard<std::mutex> lock(lineMutex_);
    return lineLostReason_;
}

int CWork_BK::StepCutShort() const {
    const int queued = QueuedRunStep();
    if (queued != StepNone) return queued;
    // Nothing queued: the firmware pause, or the moment between the end of one image and the start of
    // the next.
    const int step = CurrentStep();
    return RunActive() && step >= StepProject && step <= StepSettings ? step : StepNone;
}

void CWork_BK::ScheduleLineClose() {
    std::lock_guard<std::mutex> lock(lineMutex_);
    // Every new open of the port comes after StopTransport, which joins the closer of the last loss; a
    // closer still here belongs to this open and closes it.
    if (lineCloser_.joinable()) return;
    try {
        lineCloser_ = std::thread([this] {
            std::lock_guard<std::mutex> port(portMutex_);
            // The port may have been closed, or opened again after a successful scan, meanwhile.
            if (serial_.LineFailed()) serial_.Close();
        });
    } catch (const std::system_error&) {
        Trace(L"[CWork_BK] the line closer could not be started; the port closes when the engine stops\r\n");
    }
}

void CWork_BK::JoinLineCloser() {
    std::thread closer;
    {
        std::lock_guard<std::mutex> lock(lineMutex_);
        closer = std::move(lineCloser_);
    }
    if (closer.joinable()) closer.join();
}
