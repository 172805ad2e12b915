// The simulator's event loop: reads the line, hands each complete frame to the device model, sends
// the answers when their (paced) time has come, records everything, and stops on request.
//
// One thread does all of it; the only other input is `stopFd`, a descriptor that becomes readable on
// a stop request (main's signalfd of SIGINT and SIGTERM), so no work happens in signal context.
#pragma once

#include <array>
#include <optional>

#include "sim/DeviceModel.h"
#include "sim/FrameReader.h"
#include "sim/LineIo.h"
#include "sim/Options.h"
#include "sim/Outbox.h"
#include "sim/Recorder.h"

class CSimulator {
public:
    CSimulator(const SimOptions& options, DeviceConfig config, CLineIo& line, CRecorder& recorder);

    // Runs until stopFd becomes readable, the run has finished (--exit-after-finish), a --hangup
    // frame has been handled, or the line fails. On a stop request every frame that has already
    // reached the line is handled first. Writes the recorded output before returning. Returns the
    // process exit code: 0, or 1 after a line failure.
    int Run(int stopFd);

private:
    void TakeFrames();
    // endedAt: when the frame's last byte crossed the (paced) line; its answers count from there.
    void HandleFrame(const ReceivedFrame& frame, SimClock::time_point endedAt);
    void HandleArrived();
    SimClock::time_point FinishDeadline() const;
    // The restart of --restart-reopen, when its time has come. 0 when the line could not come back.
    int StepRestart(SimClock::time_point now);
    // How long the loop may sleep before `wake` (max(): nothing due).
    std::chrono::nanoseconds WaitBefore(SimClock::time_point wake, SimClock::time_point now) const;
    void NoteImageLine(const ReceivedFrame& frame, const DeviceReaction& reaction, SimClock::time_point endedAt,
                       SimClock::time_point answeredAt);

    struct ImageLine {
        uint64_t bytesIn = 0;
        uint64_t bytesOut = 0;
        SimClock::time_point from{};
        SimClock::time_point to{};
    };
    std::array<ImageLine, kSimImageCount> imageLines_{};
    std::optional<SimImage> lineImage_;

    unsigned long rejectsTraced_ = 0;
    const SimOptions& options_;
    CLineIo& line_;
    CRecorder& recorder_;
    CDeviceModel model_;
    CFrameReader reader_;
    COutbox outbox_;
    SimClock::time_point inLineFreeAt_{};
    SimClock::time_point lastTrafficAt_{};
    // When the last answer was completely written, until the next byte from the tool is read; the
    // gap is the tool's turnaround as seen from this end of the line (the pty's hand-over both ways
    // and this loop's wake-up included).
    SimClock::time_point answerDoneAt_{};
    bool settingsHandled_ = false;
    bool endArmed_ = false;
    bool hangUp_ = false;
    bool stopReading_ = false;  // --stop-reading-after: nothing is read from the line any more
    // --restart-reopen: when the port goes away, and when it comes back (max(): not planned).
    SimClock::time_point goAwayAt_ = SimClock::time_point::max();
    SimClock::time_point comeBackAt_ = SimClock::time_point::max();
    std::chrono::milliseconds quietWindow_{0};
};
