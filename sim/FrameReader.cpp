#include "sim/FrameReader.h"

#include <algorithm>

#include "protocol/IspCodes.h"

CFrameReader::CFrameReader(size_t maxFrameBytes, std::chrono::milliseconds staleAfter,
                           RejectHook onReject)
    : maxFrameBytes_(maxFrameBytes), staleAfter_(staleAfter), onReject_(std::move(onReject)) {}

void CFrameReader::Feed(const uint8_t* data, size_t count, SimClock::time_point now) {
    if (data == nullptr || count == 0) return;
    buffer_.insert(buffer_.end(), data, data + count);
    arrival_.insert(arrival_.end(), count, now);
    lastByteAt_ = now;
}

void CFrameReader::DropFront(size_t count) {
    start_ += std::min(count, Pending());
    if (start_ == buffer_.size()) {
        buffer_.clear();
        arrival_.clear();
        start_ = 0;
    } else if (start_ >= 4096 && start_ * 2 >= buffer_.size()) {
        buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(start_));
        arrival_.erase(arrival_.begin(), arrival_.begin() + static_cast<std::ptrdiff_t>(start_));
        start_ = 0;
    }
}

void CFrameReader::SkipLeadingNoise() {
    const auto first = buffer_.begin() + static_cast<std::ptrdiff_t>(start_);
    const size_t noise = static_cast<size_t>(std::find(first, buffer_.end(), ISP_HEAD) - first);
    skippedBytes_ += noise;
    DropFront(noise);
}

const char* RejectReasonText(RejectReason reason) {
    switch (reason) {
    case RejectReason::BadLength: return "bad length";
    case RejectReason::BadChecksum: return "bad checksum";
    case RejectReason::Incomplete: return "incomplete, dropped";
    }
    return "refused";
}

void CFrameReader::Reject(RejectReason reason, size_t knownBytes) {
    switch (reason) {
    case RejectReason::BadLength: ++badLength_; break;
    case RejectReason::BadChecksum: ++badChecksum_; break;
    case RejectReason::Incomplete: ++incomplete_; break;
    }
    if (onReject_) {
        const auto first = buffer_.begin() + static_cast<std::ptrdiff_t>(start_);
        onReject_(reason, std::vector<uint8_t>(first, first + static_cast<std::ptrdiff_t>(std::min(knownBytes, Pending()))));
    }
    // Only the start byte is consumed: the rest may hold the real frame.
    DropFront(1);
}

bool CFrameReader::Next(ReceivedFrame& out) {
    for (;;) {
        SkipLeadingNoise();
        if (Pending() < 3) return false;
        const size_t length = static_cast<size_t>(At(1)) | (static_cast<size_t>(At(2)) << 8);
        if (length < static_cast<size_t>(ISP_FRAME_OVERHEAD) || length > maxFrameBytes_) {
            Reject(RejectReason::BadLength, 3);
            continue;
        }
        if (Pending() < length) return false;
        unsigned sum = 0;
        for (size_t i = FRAME_OFFSET_CMD; i + 1 < length; ++i) sum += At(i);
        if (static_cast<uint8_t>(sum & 0xFF) != At(length - 1)) {
            Reject(RejectReason::BadChecksum, length);
            continue;
        }
        const auto first = buffer_.begin() + static_cast<std::ptrdiff_t>(start_);
        out.bytes.assign(first, first + static_cast<std::ptrdiff_t>(length));
        out.firstByteAt = arrival_[start_];
        DropFront(length);
        return true;
    }
}

SimClock::time_point CFrameReader::StaleDeadline() const {
    if (Pending() == 0) return SimClock::time_point::max();
    return lastByteAt_ + staleAfter_;
}

void CFrameReader::DropStale(SimClock::time_point now) {
    if (Pending() == 0 || now < lastByteAt_ + staleAfter_) return;
    // Whatever is left is a torn frame (or noise without a start byte, which Next already dropped).
    if (At(0) == ISP_HEAD) {
        Reject(RejectReason::Incomplete, Pending());
    } else {
        skippedBytes_ += Pending();
        DropFront(Pending());
    }
}
