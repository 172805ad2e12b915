// The command queue as the engine drives it: how a frame is written, which commands the device never
// answers, and what an unanswered command does to a run.
#include "engine/Work_BK.h"

#include "engine/ImageTable.h"
#include "engine/DealMsg.h"
#include "base/Trace.h"
#include "engine/QuietLine.h"
#include "engine/TrafficLog.h"
#include "transport/TickCount.h"

#include <chrono>

int CWork_BK::AddTask(const CPacket_ISP& task) {
    // Without a time-out the queue lock is always taken; held across the check so a failure cannot
    // slip in between it and the append.
    CMuTexGuard guard(*this);
    if (RunFailed() && StepOfCommand(task.GetCmd()) != StepNone) {
        if (!dropTraced_.exchange(true))
            Trace(L"[CWork_BK] the run has failed; command %02X and the rest of the run are not sent\r\n",
                  task.GetCmd());
        return 0;
    }
    // A restarted device is taken as back once both of its settings reads are done.
    if (task.GetCmd() == CMD_READ_SETTINGS_INFO) settingsInfoAsked_.fetch_add(1);
    return CTaskManager::AddTask(task);
}

int CWork_BK::OnAnswer(int code) { return CTaskManager::OnAnswer(code & 0xFF); }

void CWork_BK::RestartCommandSender() { RestartSender(); }

void CWork_BK::RequestDeviceInfo(uint8_t port) {
    connectedPort_.store(port);
    if (CDealMsg* driver = CDealMsg::Instance()) driver->RequestDeviceInfo(port);
}

int CWork_BK::RefreshDeviceInfo() {
    CDealMsg* driver = CDealMsg::Instance();
    if (driver == nullptr || !serial_.IsOpen() || GetConnectState() != ConnectState::Connected) return 0;
    // Asked on the job worker once the line is quiet: the device never answers the last end command
    // and may still be busy with it.
    refreshRun_.store(runsStarted_.load());
    PostJob(kRefreshJob);
    return 1;
}

void CWork_BK::RefreshWhenQuiet() {
    const int generation = pauseGeneration_.load();
    const uint32_t run = refreshRun_.load();
    CQuietLine line(kRefreshQuietMs);
    for (;;) {
        // A new run, a stop or a lost line make the question pointless; the versions stay as shown.
        if (runsStarted_.load() != run || pauseGeneration_.load() != generation ||
            GetConnectState() != ConnectState::Connected || !serial_.IsOpen())
            return;
        if (line.Quiet(LineBytesSent() + LineBytesReceived(), GetTickCountMs())) break;
        std::unique_lock<std::mutex> lock(pauseMutex_);
        pauseWake_.wait_for(lock, std::chrono::milliseconds(kRefreshLookMs),
                            [&] { return pauseGeneration_.load() != generation; });
    }
    Trace(L"[CWork_BK] the line has been quiet for %u ms: asking the device for its versions\r\n", kRefreshQuietMs);
    if (CDealMsg* driver = CDealMsg::Instance()) driver->RequestDeviceInfo(connectedPort_.load());
}

int CWork_BK::WriteFrame(const uint8_t* bytes, int length) {
    if (bytes == nullptr || length <= 0) return 0;
    TrafficLogSent(bytes, length);
    const int written = serial_.IsOpen() ? serial_.Write(bytes, static_cast<uint32_t>(length)) : 0;
    const uint8_t cmd = length > FRAME_OFFSET_CMD ? bytes[FRAME_OFFSET_CMD] : 0;
    // Counted before an end command's acknowledgement below announces the next step.
    if (written) {
        turnaround_.FrameWritten();
        const ImageRow* image = ImageByCommand(cmd);
        if (image != nullptr && image->packetCmd == cmd)
            answerTime_.PacketWritten(static_cast<uint32_t>(length));
        else
            answerTime_.OtherFrameWritten();
        lineBytesSent_.fetch_add(static_cast<uint64_t>(length), std::memory_order_relaxed);
    }
    if (!written && (serial_.LineFailed() || GetConnectState() == ConnectState::LineLost)) {
        // Nothing reached the device, so nothing is acknowledged here. While the port is still open the
        // loss report is ending the run; once it is closed, a run started on the dead line ends now
        // rather than after the no-answer slices.
        const int step = serial_.IsOpen() ? StepNone : QueuedRunStep();
        if (step != StepNone) FailRun(step, LineLostReason());
        return 0;
    }
    if (cmd == CMD_ACK) {
        // The device never answers an acknowledgement; waiting for one would block the queue.
        OnAnswer(cmd);
    } else if (IsUnansweredImageEnd(cmd)) {
        // The device never answers an image's end command, so acknowledge it here, once it has left
        // the port: the run may end now, and a port closed with the command still queued would lose it.
        if (!serial_.DrainOutput(kEndCommandDrainMs))
            Trace(L"[CWork_BK] end command %02X still queued at the port after %u ms\r\n", cmd, kEndCommandDrainMs);
        OnAnswer(cmd);
        ImageEndWritten(cmd);
    }
    return written;
}

int CWork_BK::SendTask(const CPacket_ISP& task, int /*attemptsBefore*/) {
    WriteFrame(task.GetFrameData(), task.GetFrameSize());
    return 0;
}

bool CWork_BK::IsNoWaitTask(const CPacket_ISP& task) {
    const uint8_t cmd = task.GetCmd();
    return cmd == CMD_READ_SETTINGS || cmd == CMD_READ_SETTINGS_INFO;
}

// Image packets and the commands the device answers go out from the reader thread as soon as the
// frame before them is acknowledged. Acknowledgements and end commands are answered here, and an end
// command waits for the port to drain, so those stay with the sender.
bool CWork_BK::IsWrittenOnAnswer(const CPacket_ISP& task) {
    const uint8_t cmd = task.GetCmd();
    return cmd != CMD_ACK && !IsUnansweredImageEnd(cmd) && !IsNoWaitTask(task);
}

void CWork_BK::OnNoAnswer(const CPacket_ISP& head) {
    const int step = StepOfCommand(head.GetCmd());
    Trace(L"[CWork_BK] no answer to command %02X; %ls\r\n", head.GetCmd(),
          step != StepNone && RunActive() ? L"run ended" : L"dropped");
    if (step != StepNone && !RunActive()) {
        ClearTasks();
        return;
    }
    if (step == StepNone) {
        // Only this command goes: the frames of a run queued behind it still go out.
        DropHead(head.GetCmd());
        // A run in progress with nothing queued and no job that will queue more would stand still.
        const int cutShort = StepCutShort();
        if (cutShort != StepNone && !RunFailed() && TaskCount() == 0 && jobWorker_.WaitIdle(0)) {
            Trace(L"[CWork_BK] nothing left in flight after command %02X was dropped; run ended\r\n", head.GetCmd());
            FailRun(cutShort, L"устройство не ответило на команду, и обновлению больше нечего ждать");
        }
        return;
    }
    FailRun(step, L"устройство перестало отвечать");
}
