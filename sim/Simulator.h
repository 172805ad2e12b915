// The simulator's event loop: reads the line, hands each complete frame to the device model when
// its (paced) time has come, sends the answers, records everything, and stops on request.
//
// One thread does all of it; the only other input is `stopFd`, the read end of the self-pipe the
// signal handler writes to, so no work happens in signal context.
#pragma once

#include <deque>

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
    struct PendingFrame {
        ReceivedFrame frame;
        SimClock::time_point due;
    };
    void TakeFrames();
    void HandleFrame(const ReceivedFrame& frame, SimClock::time_point now);
    void HandleArrived();
    SimClock::time_point FinishDeadline() const;

    unsigned long rejectsTraced_ = 0;
    const SimOptions& options_;
    CLineIo& line_;
    CRecorder& recorder_;
    CDeviceModel model_;
    CFrameReader reader_;
    COutbox outbox_;
    std::deque<PendingFrame> inbox_;
    SimClock::time_point inLineFreeAt_{};
    SimClock::time_point lastTrafficAt_{};
    bool settingsHandled_ = false;
    bool endArmed_ = false;
    bool hangUp_ = false;
    std::chrono::milliseconds quietWindow_{0};
};
