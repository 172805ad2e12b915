#include "engine/DeviceProbe.h"

#include "base/RawString.h"
#include "protocol/IspCodes.h"
#include "protocol/Packet_ISP.h"
#include "protocol/ReceivePath.h"

namespace {

// The smallest answer frame is 5 bytes; the device's own rule looks at nothing but its command byte.
constexpr int kMinAnswerSize = ISP_FRAME_OVERHEAD;

}  // namespace

std::vector<uint8_t> CDeviceProbe::Request(uint8_t portByte) const {
    CPacket_ISP frame;
    frame.Pack(CMD_DEVICE_INFO, &portByte, 1);
    return std::vector<uint8_t>(frame.GetFrameData(), frame.GetFrameData() + frame.GetFrameSize());
}

bool CDeviceProbe::IsAnswer(const uint8_t* data, int count) const {
    if (data == nullptr || count < kMinAnswerSize) return false;
    if (data[FRAME_OFFSET_CMD] == ANS_DEVICE_INFO) return true;
    // A stray byte from a USB adapter at open, or the tail of an earlier message, would otherwise
    // hide a device that answered.
    CRawString received(data, count);
    CRawString frame;
    while (ExtractFrame(received, FindAnswerFrame, frame, true))
        if (frame.GetAt(FRAME_OFFSET_CMD) == ANS_DEVICE_INFO) return true;
    return false;
}
