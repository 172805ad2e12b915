#include "sim/Outbox.h"

#include <algorithm>

namespace {
constexpr std::chrono::microseconds kSplitGap{1000};
constexpr long long kBitsPerByte = 10;  // start bit, 8 data bits, stop bit
}  // namespace

std::chrono::microseconds LineTime(unsigned baud, size_t bytes) {
    if (baud == 0) return std::chrono::microseconds{0};
    const long long bits = static_cast<long long>(bytes) * kBitsPerByte;
    // Rounded up: the answer must never beat the real line.
    return std::chrono::microseconds{(bits * 1000000LL + baud - 1) / baud};
}

COutbox::COutbox(unsigned baud, bool split) : baud_(baud), split_(split) {}

const std::vector<uint8_t>& COutbox::JunkBytes() {
    static const std::vector<uint8_t> junk = {0x55, 0xAC, 0x03, 0x00, 0x13};
    return junk;
}

SimClock::time_point COutbox::Queue(const std::vector<uint8_t>& frame, SimClock::time_point earliest, bool junkPrefix) {
    std::vector<uint8_t> wire;
    if (junkPrefix) wire = JunkBytes();
    wire.insert(wire.end(), frame.begin(), frame.end());

    const SimClock::time_point start = std::max(earliest, lineFreeAt_);
    if (!split_) {
        const SimClock::time_point due = start + LineTime(baud_, wire.size());
        chunks_.push_back(Chunk{std::move(wire), due, frame, 0});
        lineFreeAt_ = due;
        return due;
    }
    const auto step = std::max<std::chrono::microseconds>(kSplitGap, LineTime(baud_, 1));
    SimClock::time_point due = start + LineTime(baud_, 1);
    for (size_t i = 0; i < wire.size(); ++i) {
        chunks_.push_back(Chunk{{wire[i]}, due, i == 0 ? frame : std::vector<uint8_t>{}, 0});
        lineFreeAt_ = due;
        due += step;
    }
    return lineFreeAt_;
}

SimClock::time_point COutbox::NextDue() const {
    return chunks_.empty() ? SimClock::time_point::max() : chunks_.front().due;
}

int COutbox::Flush(CLineIo& line, SimClock::time_point now, CRecorder& recorder, bool& lineFull) {
    lineFull = false;
    while (!chunks_.empty() && chunks_.front().due <= now) {
        Chunk& chunk = chunks_.front();
        if (!chunk.frameToLog.empty() && chunk.written == 0) {
            if (Paced()) {
                const auto late = std::chrono::duration_cast<std::chrono::microseconds>(SimClock::now() - chunk.due);
                recorder.NoteAnswerLate(late);
            }
            recorder.LogSent(chunk.frameToLog);
            chunk.frameToLog.clear();
        }
        const ssize_t n = line.Write(chunk.bytes.data() + chunk.written, chunk.bytes.size() - chunk.written);
        if (n < 0) return 0;
        chunk.written += static_cast<size_t>(n);
        if (chunk.written < chunk.bytes.size()) {
            lineFull = true;
            return 1;
        }
        chunks_.pop_front();
    }
    return 1;
}
