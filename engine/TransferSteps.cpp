// The commands of an update run: start, packets and end of each image as its row of the image table
// says, the device information and settings commands, and the rule that chooses the next image.
#include "engine/DealMsg.h"
#include "engine/FirmwareRecords.h"
#include "engine/ImageTable.h"
#include "protocol/IspCodes.h"
#include "protocol/Packet_ISP.h"
#include "base/Trace.h"
#include "engine/Work_BK.h"
#include "files/Packet_Hex.h"
#include "files/RawPacketList.h"

namespace {

// Queues every packet of a data or radar image exactly as stored. False when the run failed while
// they were being queued: the rest is not queued (the engine would not send it anyway).
bool QueueImagePackets(const CRawPacketList& image, uint8_t packetCmd, const wchar_t* traceFormat) {
    CWork_BK& engine = *CWork_BK::Instance();
    Trace(traceFormat, static_cast<long>(image.GetPacketCount()));
    CPacket_ISP frame;
    for (const CRawString& packet : image) {
        if (engine.RunFailed()) return false;
        frame.Pack(packetCmd, packet.Data(), static_cast<uint16_t>(packet.Size()));
        engine.AddTask(frame);
    }
    return !engine.RunFailed();
}

}  // namespace

void CDealMsg::Queue(uint8_t cmd, const void* payload, int length) {
    CPacket_ISP frame;
    frame.Pack(cmd, payload, static_cast<uint16_t>(length));
    Engine().AddTask(frame);
}

void CDealMsg::RequestDeviceInfo(uint8_t port) { Queue(CMD_DEVICE_INFO, &port, 1); }
void CDealMsg::ReadSettings() { Queue(CMD_READ_SETTINGS, nullptr, 0); }
void CDealMsg::ReadSettingsInfo() { Queue(CMD_READ_SETTINGS_INFO, nullptr, 0); }

void CDealMsg::WriteSettings() {
    uint8_t block[SETTINGS_BLOCK_SIZE];
    Engine().GetSettingsToWrite(block);
    Queue(CMD_WRITE_SETTINGS, block, SETTINGS_BLOCK_SIZE);
}

void CDealMsg::AckDevice() {
    const uint8_t payload[] = {ANS_DEVICE_NOTICE, ACK_STATUS_ACCEPTED};
    Queue(CMD_ACK, payload, 2);
}

void CDealMsg::SendImageStart(int step) {
    const ImageRow* row = ImageByStep(step);
    const CImageReader* image = Engine().Image(step);
    if (row == nullptr || image == nullptr) return;
    switch (row->startPayload) {
        case StartPayload::None:
            Queue(row->startCmd, nullptr, 0);
            break;
        case StartPayload::FirmwareVersion: {
            const uint16_t version = image->Hex() != nullptr ? image->Hex()->GetHexVer() : 0;
            const uint8_t payload[] = {static_cast<uint8_t>(version >> 8), static_cast<uint8_t>(version & 0xFF)};
            Queue(row->startCmd, payload, static_cast<int>(sizeof payload));
            break;
        }
        case StartPayload::ImageSize: {
            const uint32_t size = image->ImageBytes();
            const uint8_t payload[] = {static_cast<uint8_t>(size & 0xFF), static_cast<uint8_t>((size >> 8) & 0xFF),
                                       static_cast<uint8_t>((size >> 16) & 0xFF),
                                       static_cast<uint8_t>((size >> 24) & 0xFF)};
            Queue(row->startCmd, payload, static_cast<int>(sizeof payload));
            break;
        }
    }
}

int CDealMsg::SendImagePackets(int step) {
    const ImageRow* row = ImageByStep(step);
    const CImageReader* image = Engine().Image(step);
    if (row == nullptr || image == nullptr) return 0;
    if (image->Hex() != nullptr) return SendFirmwareRecords(*row);
    if (!QueueImagePackets(*image->Packets(), row->packetCmd, row->traceFormat)) return 0;
    SendImageEnd(step);
    return 1;
}

void CDealMsg::SendImageEnd(int step) {
    if (const ImageRow* row = ImageByStep(step)) Queue(row->endCmd, nullptr, 0);
}

CRawString CDealMsg::MakeProjectPayload(const CPacket_Hex& record) const {
    const uint32_t address =
        static_cast<uint32_t>(CWork_BK::Instance()->UpperAddress()) * 65536u + record.GetAddress();
    const uint8_t length = record.GetDataLength();
    uint8_t header[FIRMWARE_PAYLOAD_HEADER] = {
        static_cast<uint8_t>(address & 0xFF), static_cast<uint8_t>((address >> 8) & 0xFF),
        static_cast<uint8_t>((address >> 16) & 0xFF), static_cast<uint8_t>((address >> 24) & 0xFF), length};
    CRawString payload(header, FIRMWARE_PAYLOAD_HEADER);
    if (length > 0 && record.GetData() != nullptr) payload.Append(record.GetData(), length);
    return payload;
}

int CDealMsg::SendFirmwareRecords(const ImageRow& row) {
    CWork_BK& engine = Engine();
    const CFile_Project& image = *engine.Image(row.step)->Hex();
    if (image.GetPacketCount() == 0) return 0;
    Trace(row.traceFormat, static_cast<long>(image.GetPacketCount()));
    CPacket_ISP frame;
    const bool placed = WalkFirmwareRecords(
        image,
        [&](const CPacket_Hex& record, int /*upper*/) {
            if (engine.RunFailed()) return;
            const CRawString payload = MakeProjectPayload(record);
            frame.Pack(row.packetCmd, payload.Data(), static_cast<uint16_t>(payload.Size()));
            engine.AddTask(frame);
        },
        [&](int index, int upper, int previous) {
            // Files with gaps between segments name the next segment themselves; say so when they do.
            if (index > 0 && upper != previous + 1)
                Trace(L"Project upper address %04x after %04x (record %d)\r\n", upper, previous, index);
            engine.SetUpperAddress(upper);
        });
    if (!placed || engine.RunFailed()) return 0;
    SendImageEnd(row.step);
    return 1;
}

void CDealMsg::SendProjectStart() { SendImageStart(StepProject); }
int CDealMsg::SendProjectPackets() { return SendImagePackets(StepProject); }
void CDealMsg::SendProjectEnd() { SendImageEnd(StepProject); }
void CDealMsg::SendEDogStart() { SendImageStart(StepEDog); }
int CDealMsg::SendEDogPackets() { return SendImagePackets(StepEDog); }
void CDealMsg::SendEDogEnd() { SendImageEnd(StepEDog); }
void CDealMsg::SendMusicStart() { SendImageStart(StepMusic); }
int CDealMsg::SendMusicPackets() { return SendImagePackets(StepMusic); }
void CDealMsg::SendMusicEnd() { SendImageEnd(StepMusic); }
void CDealMsg::SendPicStart() { SendImageStart(StepPic); }
int CDealMsg::SendPicPackets() { return SendImagePackets(StepPic); }
void CDealMsg::SendPicEnd() { SendImageEnd(StepPic); }
void CDealMsg::SendRadarStart() { SendImageStart(StepRadar); }
int CDealMsg::SendRadarPackets() { return SendImagePackets(StepRadar); }
void CDealMsg::SendRadarEnd() { SendImageEnd(StepRadar); }

void CDealMsg::StartNextImage(int endedStep) {
    CWork_BK& engine = Engine();
    if (!engine.RunActive() || engine.RunFailed()) return;
    const std::span<const ImageRow> rows = ImageRows();
    for (size_t i = static_cast<size_t>(ImageIndex(ImageByStep(endedStep)) + 1); i < rows.size(); ++i) {
        const ImageRow& next = rows[i];
        if (engine.PacketCount(next.step) == 0) continue;
        SendImageStart(next.step);
        // Some steps are shown as soon as the image before them ends; the device's ready answer
        // announces them again.
        if (next.announcedAfter == endedStep) {
            engine.SelectStep(next.step);
            engine.NotifyStepBegin();
        }
        return;
    }
    // No settings are written, and no success is reported, for a run that left an image unfinished.
    if (!engine.CheckImagesWhole()) return;
    if (engine.SettingsPending()) {
        WriteSettings();
        return;
    }
    engine.SelectStep(StepFinished);
    engine.NotifyStepEnd(0);
}
