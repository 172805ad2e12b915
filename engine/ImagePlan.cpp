#include "engine/ImagePlan.h"

#include <algorithm>

#include "engine/FirmwareRecords.h"
#include "engine/ImageReader.h"
#include "engine/ImageTable.h"
#include "protocol/IspCodes.h"
#include "files/File_Project.h"

namespace {

ImagePlan PlanPackets(const CRawPacketList& image, int startPayload) {
    ImagePlan plan;
    if (image.GetPacketCount() == 0) return plan;
    plan.frames = 2;
    plan.wireBytes = 2 * ISP_FRAME_OVERHEAD + startPayload;
    for (const CRawString& packet : image) {
        ++plan.packets;
        ++plan.frames;
        plan.wireBytes += ISP_FRAME_OVERHEAD + packet.Size();
    }
    return plan;
}

ImagePlan PlanRecords(const CFile_Project& image, int startPayload) {
    ImagePlan plan;
    if (image.GetPacketCount() == 0) return plan;
    bool any = false;
    plan.sendable = WalkFirmwareRecords(image, [&](const CPacket_Hex& record, int upper) {
        const uint32_t low = static_cast<uint32_t>(upper) * 65536u + record.GetAddress();
        const uint32_t high = low + record.GetDataLength();
        plan.lowAddress = any ? std::min(plan.lowAddress, low) : low;
        plan.highAddress = any ? std::max(plan.highAddress, high) : high;
        any = true;
        ++plan.packets;
        plan.wireBytes += ISP_FRAME_OVERHEAD + FIRMWARE_PAYLOAD_HEADER + record.GetDataLength();
    });
    if (!plan.sendable) return plan;
    plan.frames = plan.packets + 2;
    plan.wireBytes += 2 * ISP_FRAME_OVERHEAD + startPayload;
    return plan;
}

}  // namespace

// Every answer is a frame without payload, or with the two bytes [command, status].
constexpr long long kBareAnswerBytes = ISP_FRAME_OVERHEAD;
constexpr long long kStatusAnswerBytes = ISP_FRAME_OVERHEAD + 2;

ImagePlan PlanImage(const ImageRow& row, const CImageReader& image) {
    const int startPayload = StartPayloadBytes(row.startPayload);
    ImagePlan plan = image.Hex() ? PlanRecords(*image.Hex(), startPayload) : PlanPackets(*image.Packets(), startPayload);
    if (plan.frames == 0) return plan;
    // The firmware start is answered twice: "start seen", then "ready".
    const long long startAnswers = row.reader == ImageReaderKind::Hex ? 2 : 1;
    plan.answerBytes = startAnswers * kBareAnswerBytes + plan.packets * kStatusAnswerBytes +
                       (row.deviceConfirmsEnd ? kStatusAnswerBytes : 0);
    return plan;
}

double LineSeconds(long long bytes, uint32_t baud) {
    return baud == 0 ? 0.0 : static_cast<double>(bytes) * 10.0 / static_cast<double>(baud);
}
