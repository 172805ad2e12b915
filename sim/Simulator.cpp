#include "sim/Simulator.h"

#include <poll.h>
#include <unistd.h>
#if defined(__linux__)
#include <sys/prctl.h>
#endif

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "protocol/IspCodes.h"
#include "base/Trace.h"

namespace {

// A frame that stays torn this long is dropped; the tool writes each frame in one go.
constexpr std::chrono::milliseconds kStaleFrame{1000};
// After the last end command the tool goes quiet; after the firmware end it pauses 10 s before
// the next image, so only a longer silence means the run is over.
constexpr std::chrono::milliseconds kQuietAfterEnd{1000};
constexpr std::chrono::milliseconds kQuietAfterFirmwareEnd{11000};
// Closing the pty master throws away answers the tool has not read yet, so a finished run waits
// this long at most for the tool to take the last one.
constexpr std::chrono::milliseconds kDrainLimit{2000};
constexpr std::chrono::milliseconds kDrainPoll{10};
constexpr std::chrono::milliseconds kMaxWait{1000};
// Linux lets a sleeping timer fire up to 50 us late by default; a paced line is a few hundred us per
// answer, so the simulator asks for its timers to be kept almost exactly.
constexpr unsigned long kTimerSlackNs = 1000;
constexpr unsigned long kMaxTracedRejects = 20;
constexpr std::chrono::microseconds kPollBeforeAnswer{100};
constexpr size_t kReadChunk = 8192;

}  // namespace

CSimulator::CSimulator(const SimOptions& options, DeviceConfig config, CLineIo& line, CRecorder& recorder)
    : options_(options),
      line_(line),
      recorder_(recorder),
      model_(std::move(config), options.faults),
      reader_(kMaxCommandFrameBytes, kStaleFrame,
              [this](RejectReason reason, const std::vector<uint8_t>& bytes) {
                  // A noisy line refuses thousands of candidates; frames.log keeps them all.
                  ++rejectsTraced_;
                  if (rejectsTraced_ <= kMaxTracedRejects) {
                      Trace(L"iap-devsim: ignored a frame (%hs; %d bytes seen)\n", RejectReasonText(reason),
                            static_cast<int>(bytes.size()));
                  } else if (rejectsTraced_ == kMaxTracedRejects + 1) {
                      Trace(L"iap-devsim: more bad frames; see frames.log and summary.txt\n");
                  }
                  recorder_.LogRejected(reason, bytes);
              }),
      // A real serial device paces itself; only the pty needs the simulated line time.
      outbox_(options.devicePath.empty() ? options.baud : 0, options.split) {}

void CSimulator::TakeFrames() {
    const unsigned baud = options_.devicePath.empty() ? options_.baud : 0;
    ReceivedFrame frame;
    // A frame is decided as soon as it is whole here, as a device's receive interrupt would; its
    // answers still go out only once the frame could have crossed the line (which is busy until the
    // frame before it has) plus their own wire time. Deciding at once saves a timer wake-up per
    // frame, which on a virtual machine alone is tens of microseconds the tool would be blamed for.
    while (!hangUp_ && !stopReading_ && reader_.Next(frame)) {
        const SimClock::time_point start = std::max(frame.firstByteAt, inLineFreeAt_);
        const SimClock::time_point endedAt = start + LineTime(baud, frame.bytes.size());
        inLineFreeAt_ = endedAt;
        HandleFrame(frame, endedAt);
        frame = ReceivedFrame{};
    }
}

void CSimulator::HandleFrame(const ReceivedFrame& frame, SimClock::time_point endedAt) {
    recorder_.LogReceived(frame.bytes);
    const DeviceReaction reaction = model_.Handle(frame.bytes);
    SimClock::time_point answeredAt = endedAt;
    for (const std::string& note : reaction.notes) {
        recorder_.LogNote(note);
        Trace(L"iap-devsim: %hs\n", note.c_str());
    }
    if (!options_.silent) {
        const auto delay = std::chrono::milliseconds(options_.delayMs + (reaction.deviceInfo ? options_.probeDelayMs : 0));
        // --junk leaves the 'E' answers clean so that it disturbs only the receive path; junk before
        // them (a stray byte from an adapter at open) is a fault of its own.
        const bool junk = reaction.deviceInfo ? options_.probeJunk : options_.junk;
        for (const auto& answer : reaction.answers) answeredAt = outbox_.Queue(answer, endedAt + delay, junk);
    }
    NoteImageLine(frame, reaction, endedAt, answeredAt);
    if (reaction.started) {
        endArmed_ = false;
        settingsHandled_ = false;
    }
    if (reaction.ended) {
        recorder_.WriteImage(*reaction.ended, model_);
        recorder_.WriteSummary(model_, reader_);
        endArmed_ = true;
        quietWindow_ = *reaction.ended == SimImage::Firmware ? kQuietAfterFirmwareEnd : kQuietAfterEnd;
    }
    if (reaction.settingsWritten) {
        recorder_.WriteSettings(model_);
        recorder_.WriteSummary(model_, reader_);
    }
    if (frame.bytes[FRAME_OFFSET_CMD] == CMD_WRITE_SETTINGS) settingsHandled_ = true;
    if (reaction.hangUp) hangUp_ = true;
    if (reaction.stopReading) {
        stopReading_ = true;
        Trace(L"iap-devsim: reading nothing more from the line\n");
    }
    if (options_.restartReopen && reaction.ended == SimImage::Firmware && goAwayAt_ == SimClock::time_point::max())
        goAwayAt_ = answeredAt + std::chrono::milliseconds(options_.restartCloseMs);
}

int CSimulator::StepRestart(SimClock::time_point now) {
    if (!line_.Away() && now >= goAwayAt_) {
        goAwayAt_ = SimClock::time_point::max();
        comeBackAt_ = now + std::chrono::milliseconds(options_.restartAwayMs);
        recorder_.LogNote("restart: the port goes away");
        Trace(L"iap-devsim: restarting: the port goes away\n");
        line_.GoAway();
        // What was not on the line yet is lost with the port.
        outbox_ = COutbox(options_.devicePath.empty() ? options_.baud : 0, options_.split);
    }
    if (line_.Away() && now >= comeBackAt_) {
        comeBackAt_ = SimClock::time_point::max();
        std::string error;
        if (!line_.Reopen(error)) {
            Trace(L"iap-devsim: the port did not come back: %hs\n", error.c_str());
            return 0;
        }
        recorder_.LogNote("restart: the port is back");
        Trace(L"iap-devsim: restarted: the port is back at %hs\n", line_.Path().c_str());
    }
    return 1;
}

// An image's line time runs from its ready answer to its end command (or the answer to it); the
// frames and answers in between are what the tool's summary calls the image's bytes each way.
void CSimulator::NoteImageLine(const ReceivedFrame& frame, const DeviceReaction& reaction,
                               SimClock::time_point endedAt, SimClock::time_point answeredAt) {
    if (reaction.started) {
        lineImage_ = *reaction.started;
        imageLines_[static_cast<size_t>(*lineImage_)] = ImageLine{0, 0, answeredAt, answeredAt};
        return;
    }
    if (!lineImage_) return;
    ImageLine& line = imageLines_[static_cast<size_t>(*lineImage_)];
    line.bytesIn += frame.bytes.size();
    for (const auto& answer : reaction.answers) line.bytesOut += answer.size();
    line.to = std::max(endedAt, answeredAt);
    const auto micros = std::chrono::duration_cast<std::chrono::microseconds>(line.to - line.from);
    recorder_.NoteImageLine(*lineImage_, line.bytesIn, line.bytesOut, micros);
    if (reaction.ended) lineImage_.reset();
}

// The tool ends a run as soon as it has written an end command the device never answers, and may
// stop the simulator right then: every frame that has reached the line is handled, without its
// pacing, so the recorded output holds everything the tool sent before the stop. Reading an empty
// pty master first completes the kernel's pending hand-over of the bytes written to the slave.
void CSimulator::HandleArrived() {
    if (stopReading_ || line_.Away()) return;
    std::vector<uint8_t> buffer(kReadChunk);
    for (;;) {
        const ssize_t n = line_.Read(buffer.data(), buffer.size());
        if (n <= 0) break;
        reader_.Feed(buffer.data(), static_cast<size_t>(n), SimClock::now());
    }
    TakeFrames();
    bool lineFull = false;
    if (!outbox_.Flush(line_, SimClock::now(), recorder_, lineFull))
        Trace(L"iap-devsim: write to %hs failed: %hs\n", line_.Path().c_str(), std::strerror(errno));
}

std::chrono::nanoseconds CSimulator::WaitBefore(SimClock::time_point wake, SimClock::time_point now) const {
    // ppoll takes the deadline to the nanosecond: a poll() rounded to whole milliseconds would
    // hold a 274 us answer for a millisecond and pace the line at a third of its rate.
    std::chrono::nanoseconds wait = kMaxWait;
    if (wake != SimClock::time_point::max())
        wait = std::clamp<std::chrono::nanoseconds>(wake - now, std::chrono::nanoseconds{0}, wait);
    // Even with the smallest timer slack a sleeping thread wakes some 50 us late on a virtual machine,
    // and every paced answer would carry that delay into the tool's figures. So the loop wakes a little
    // early for an answer and polls the rest of the way: the answers leave within a few microseconds
    // of their time, for about a tenth of a core while the firmware goes.
    const bool pacedAnswer = outbox_.Paced() && wake == outbox_.NextDue();
    if (pacedAnswer) return wait > kPollBeforeAnswer ? wait - kPollBeforeAnswer : std::chrono::nanoseconds{0};
    return wait;
}

SimClock::time_point CSimulator::FinishDeadline() const {
    if (!options_.exitAfterFinish || !outbox_.Empty()) return SimClock::time_point::max();
    if (settingsHandled_) return lastTrafficAt_ + kQuietAfterEnd;
    if (endArmed_) return lastTrafficAt_ + quietWindow_;
    return SimClock::time_point::max();
}

int CSimulator::Run(int stopFd) {
#if defined(__linux__)
    prctl(PR_SET_TIMERSLACK, kTimerSlackNs, 0, 0, 0);
#endif
    int exitCode = 0;
    bool lineFull = false;
    lastTrafficAt_ = SimClock::now();
    std::vector<uint8_t> buffer(kReadChunk);
    for (;;) {
        SimClock::time_point now = SimClock::now();
        if (hangUp_) {
            // Leaving closes the pty master (and our keep-alive slave), which the tool sees as a hang-up.
            Trace(L"iap-devsim: hanging up as asked\n");
            break;
        }
        if (line_.Away()) {
            if (!StepRestart(now)) {
                exitCode = 1;
                break;
            }
            // No port: only a stop request or the time to come back ends the wait.
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(comeBackAt_ - now).count();
            pollfd stop{stopFd, POLLIN, 0};
            if (!line_.Away()) continue;
            if (poll(&stop, 1, static_cast<int>(std::clamp<long long>(left, 0, kMaxWait.count()))) > 0) break;
            continue;
        }
        const unsigned long sentBefore = recorder_.FramesSent();
        const bool answersDue = outbox_.NextDue() <= now;
        if (!outbox_.Flush(line_, now, recorder_, lineFull)) {
            Trace(L"iap-devsim: write to %hs failed: %hs\n", line_.Path().c_str(), std::strerror(errno));
            exitCode = 1;
            break;
        }
        if (recorder_.FramesSent() != sentBefore) lastTrafficAt_ = now;
        // The port goes away only after the answer before it has reached the tool: closing the pty
        // master would throw it away (a USB device sends it before it restarts, too).
        if (now >= goAwayAt_ && outbox_.Empty() && (line_.PendingForPeer() == 0 || now >= goAwayAt_ + kDrainLimit)) {
            StepRestart(now);
            continue;
        }
        if (answersDue && !lineFull && outbox_.Empty()) answerDoneAt_ = SimClock::now();
        if (reader_.StaleDeadline() <= now) {
            reader_.DropStale(now);
            TakeFrames();
            continue;
        }
        if (FinishDeadline() <= now) {
            if (line_.PendingForPeer() == 0 || now >= FinishDeadline() + kDrainLimit) {
                Trace(L"iap-devsim: the run has finished, exiting\n");
                break;
            }
            pollfd stop{stopFd, POLLIN, 0};
            if (poll(&stop, 1, static_cast<int>(kDrainPoll.count())) > 0) break;
            continue;
        }

        SimClock::time_point wake = std::min({FinishDeadline(), reader_.StaleDeadline(), goAwayAt_});
        if (!lineFull) wake = std::min(wake, outbox_.NextDue());
        const std::chrono::nanoseconds wait = WaitBefore(wake, now);
        const timespec timeout{static_cast<time_t>(wait.count() / 1000000000),
                               static_cast<long>(wait.count() % 1000000000)};
        // A device that has stopped reading leaves the tool's bytes where they are.
        const short lineEvents = static_cast<short>((stopReading_ ? 0 : POLLIN) | (lineFull ? POLLOUT : 0));
        pollfd fds[2] = {{stopFd, POLLIN, 0}, {line_.Fd(), lineEvents, 0}};
        const int ready = ppoll(fds, 2, &timeout, nullptr);
        if (ready < 0) {
            if (errno == EINTR) continue;
            Trace(L"iap-devsim: poll failed: %hs\n", std::strerror(errno));
            exitCode = 1;
            break;
        }
        if (fds[0].revents != 0) {  // asked to stop
            HandleArrived();
            break;
        }
        if (!stopReading_ && (fds[1].revents & (POLLIN | POLLHUP | POLLERR))) {
            now = SimClock::now();
            bool gotAny = false;
            for (;;) {
                const ssize_t n = line_.Read(buffer.data(), buffer.size());
                if (n < 0) {
                    Trace(L"iap-devsim: read from %hs failed: %hs\n", line_.Path().c_str(), std::strerror(errno));
                    exitCode = 1;
                    break;
                }
                if (n == 0) break;
                gotAny = true;
                reader_.Feed(buffer.data(), static_cast<size_t>(n), now);
            }
            if (exitCode != 0) break;
            if (gotAny) {
                lastTrafficAt_ = now;
                if (answerDoneAt_ != SimClock::time_point{}) {
                    recorder_.NoteTurnaround(std::chrono::duration_cast<std::chrono::microseconds>(now - answerDoneAt_));
                    answerDoneAt_ = {};
                }
                TakeFrames();
            } else if (fds[1].revents & (POLLHUP | POLLERR)) {
                // A hang-up with nothing to read would make poll return at once forever.
                poll(fds, 1, 10);
                if (fds[0].revents != 0) break;
            }
        }
    }
    recorder_.WriteAll(model_, reader_);
    return exitCode;
}
