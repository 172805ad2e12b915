#include "protocol/Packet_ISP.h"

#include "protocol/IspCodes.h"

uint8_t CheckSum(const uint8_t* data, int count) {
    if (data == nullptr || count <= 0) return 0;
    unsigned sum = 0;
    for (int i = 0; i < count; ++i) sum += data[i];
    return static_cast<uint8_t>(sum & 0xFF);
}

CTask::CTask(int attemptLimit, uint32_t longWaitMs, int shortWaitMs)
    : attemptLimit_(attemptLimit), longWaitMs_(longWaitMs), shortWaitMs_(shortWaitMs) {
    if (shortWaitMs_ > 0 && longWaitMs_ < static_cast<uint32_t>(shortWaitMs_))
        longWaitMs_ = static_cast<uint32_t>(shortWaitMs_);
}

int CTask::TryCount() {
    if (attemptsMade_ >= attemptLimit_) return 0;
    ++attemptsMade_;
    return 1;
}

CPacket_ISP::CPacket_ISP() : CTask(kAttemptLimit, kLongWaitMs, kShortWaitMs) {}

void CPacket_ISP::Pack(uint8_t cmd, const void* payload, uint16_t length) {
    Clear();
    const unsigned total = static_cast<unsigned>(length) + ISP_FRAME_OVERHEAD;
    const uint8_t header[ISP_HEADER_SIZE] = {ISP_HEAD, static_cast<uint8_t>(total & 0xFF),
                                             static_cast<uint8_t>((total >> 8) & 0xFF), cmd};
    Append(header, ISP_HEADER_SIZE);
    if (payload != nullptr && length > 0) Append(payload, length);
    const int covered = Size() - FRAME_OFFSET_CMD;
    AppendByte(CheckSum(Data() + FRAME_OFFSET_CMD, covered));
}

uint8_t CPacket_ISP::GetCmd() const { return HasHeader() ? GetAt(FRAME_OFFSET_CMD) : 0; }
uint8_t CPacket_ISP::GetHead() const { return HasHeader() ? GetAt(0) : 0; }
bool CPacket_ISP::IsHeadOk() const { return HasHeader() && GetAt(0) == ISP_HEAD; }

uint16_t CPacket_ISP::GetLength() const {
    if (!HasHeader()) return 0;
    return static_cast<uint16_t>(GetAt(1) | (GetAt(2) << 8));
}

const uint8_t* CPacket_ISP::GetBody() const {
    return HasHeader() ? Data() + ISP_HEADER_SIZE : nullptr;
}
