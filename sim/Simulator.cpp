#include "sim/Simulator.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "engine/frame/IspCodes.h"
#include "engine/frame/Trace.h"

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
constexpr int kMaxPollMs = 1000;
constexpr unsigned long kMaxTracedRejects = 20;
constexpr size_t kReadChunk = 8192;

const char* RejectName(RejectReason reason) {
    switch (reason) {
    case RejectReason::BadLength: return "a frame with a bad length";
    case RejectReason::BadChecksum: return "a frame with a bad checksum";
    case RejectReason::Incomplete: return "an incomplete frame";
    }
    return "a bad frame";
}

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
                      Trace(L"iap-devsim: ignored %hs (%d bytes seen)\n", RejectName(reason),
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
    while (reader_.Next(frame)) {
        // Handled once the whole frame could have crossed the line, which is busy until the
        // frame before it has.
        const SimClock::time_point start = std::max(frame.firstByteAt, inLineFreeAt_);
        const SimClock::time_point due = start + LineTime(baud, frame.bytes.size());
        inLineFreeAt_ = due;
        inbox_.push_back(PendingFrame{std::move(frame), due});
        frame = ReceivedFrame{};
    }
}

void CSimulator::HandleFrame(const ReceivedFrame& frame, SimClock::time_point now) {
    recorder_.LogReceived(frame.bytes);
    const DeviceReaction reaction = model_.Handle(frame.bytes);
    for (const std::string& note : reaction.notes) {
        recorder_.LogNote(note);
        Trace(L"iap-devsim: %hs\n", note.c_str());
    }
    if (!options_.silent) {
        const auto delay = std::chrono::milliseconds(options_.delayMs + (reaction.deviceInfo ? options_.probeDelayMs : 0));
        // --junk leaves the 'E' answers clean so that it disturbs only the receive path; junk before
        // them (a stray byte from an adapter at open) is a fault of its own.
        const bool junk = reaction.deviceInfo ? options_.probeJunk : options_.junk;
        for (const auto& answer : reaction.answers) outbox_.Queue(answer, now + delay, junk);
    }
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
}

// The tool ends a run as soon as it has written an end command the device never answers, and may
// stop the simulator right then: every frame that has reached the line is handled, without its
// pacing, so the recorded output holds everything the tool sent before the stop. Reading an empty
// pty master first completes the kernel's pending hand-over of the bytes written to the slave.
void CSimulator::HandleArrived() {
    std::vector<uint8_t> buffer(kReadChunk);
    for (;;) {
        const ssize_t n = line_.Read(buffer.data(), buffer.size());
        if (n <= 0) break;
        reader_.Feed(buffer.data(), static_cast<size_t>(n), SimClock::now());
    }
    TakeFrames();
    while (!inbox_.empty() && !hangUp_) {
        const PendingFrame pending = std::move(inbox_.front());
        inbox_.pop_front();
        HandleFrame(pending.frame, SimClock::now());
    }
    bool lineFull = false;
    if (!outbox_.Flush(line_, SimClock::now(), recorder_, lineFull))
        Trace(L"iap-devsim: write to %hs failed: %hs\n", line_.Path().c_str(), std::strerror(errno));
}

SimClock::time_point CSimulator::FinishDeadline() const {
    if (!options_.exitAfterFinish || !inbox_.empty() || !outbox_.Empty()) return SimClock::time_point::max();
    if (settingsHandled_) return lastTrafficAt_ + kQuietAfterEnd;
    if (endArmed_) return lastTrafficAt_ + quietWindow_;
    return SimClock::time_point::max();
}

int CSimulator::Run(int stopFd) {
    int exitCode = 0;
    bool lineFull = false;
    lastTrafficAt_ = SimClock::now();
    std::vector<uint8_t> buffer(kReadChunk);
    for (;;) {
        SimClock::time_point now = SimClock::now();
        while (!inbox_.empty() && inbox_.front().due <= now) {
            const PendingFrame pending = std::move(inbox_.front());
            inbox_.pop_front();
            HandleFrame(pending.frame, now);
            if (hangUp_) break;
        }
        if (hangUp_) {
            // Leaving closes the pty master (and our keep-alive slave), which the tool sees as a hang-up.
            Trace(L"iap-devsim: hanging up as asked\n");
            break;
        }
        const unsigned long sentBefore = recorder_.FramesSent();
        if (!outbox_.Flush(line_, now, recorder_, lineFull)) {
            Trace(L"iap-devsim: write to %hs failed: %hs\n", line_.Path().c_str(), std::strerror(errno));
            exitCode = 1;
            break;
        }
        if (recorder_.FramesSent() != sentBefore) lastTrafficAt_ = now;
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

        SimClock::time_point wake = std::min({FinishDeadline(), reader_.StaleDeadline(),
                                              inbox_.empty() ? SimClock::time_point::max() : inbox_.front().due});
        if (!lineFull) wake = std::min(wake, outbox_.NextDue());
        int timeoutMs = kMaxPollMs;
        if (wake != SimClock::time_point::max()) {
            const auto left = std::chrono::duration_cast<std::chrono::microseconds>(wake - now).count();
            // Rounded up, so the loop never spins on a deadline a fraction of a millisecond away.
            timeoutMs = static_cast<int>(std::clamp<long long>((left + 999) / 1000, 0, kMaxPollMs));
        }
        pollfd fds[2] = {{stopFd, POLLIN, 0}, {line_.Fd(), static_cast<short>(POLLIN | (lineFull ? POLLOUT : 0)), 0}};
        const int ready = poll(fds, 2, timeoutMs);
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
        if (fds[1].revents & (POLLIN | POLLHUP | POLLERR)) {
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
