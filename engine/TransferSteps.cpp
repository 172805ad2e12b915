// The commands of an update run: start, packets and end of each image, the device information and
// settings commands, and the rule that chooses the next image.
#include "engine/DealMsg.h"
#include "engine/FirmwareRecords.h"
#include "engine/frame/IspCodes.h"
#include "engine/frame/Packet_ISP.h"
#include "engine/frame/Trace.h"
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

void CDealMsg::SendProjectStart() {
    const uint16_t version = Engine().Project().GetHexVer();
    const uint8_t payload[] = {static_cast<uint8_t>(version >> 8), static_cast<uint8_t>(version & 0xFF)};
    Queue(CMD_FIRMWARE_START, payload, 2);
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

int CDealMsg::SendProjectPackets() {
    CWork_BK& engine = Engine();
    const CFile_Project& image = engine.Project();
    if (image.GetPacketCount() == 0) return 0;
    Trace(L"Project PacketNum is:%ld\r\n", static_cast<long>(image.GetPacketCount()));
    CPacket_ISP frame;
    const bool placed = WalkFirmwareRecords(
        image,
        [&](const CPacket_Hex& record, int /*upper*/) {
            if (engine.RunFailed()) return;
            const CRawString payload = MakeProjectPayload(record);
            frame.Pack(CMD_FIRMWARE_DATA, payload.Data(), static_cast<uint16_t>(payload.Size()));
            engine.AddTask(frame);
        },
        [&](int index, int upper, int previous) {
            // Files with gaps between segments name the next segment themselves; say so when they do.
            if (index > 0 && upper != previous + 1)
                Trace(L"Project upper address %04x after %04x (record %d)\r\n", upper, previous, index);
            engine.SetUpperAddress(upper);
        });
    if (!placed || engine.RunFailed()) return 0;
    SendProjectEnd();
    return 1;
}

void CDealMsg::SendProjectEnd() { Queue(CMD_FIRMWARE_END, nullptr, 0); }

void CDealMsg::SendEDogStart() { Queue(CMD_EDOG_START, nullptr, 0); }
int CDealMsg::SendEDogPackets() {
    if (!QueueImagePackets(Engine().EDog(), CMD_EDOG_PACKET, L"EDog PacketNum is:%ld\r\n")) return 0;
    SendEDogEnd();
    return 1;
}
void CDealMsg::SendEDogEnd() { Queue(CMD_EDOG_END, nullptr, 0); }

void CDealMsg::SendMusicStart() { Queue(CMD_MUSIC_START, nullptr, 0); }
int CDealMsg::SendMusicPackets() {
    if (!QueueImagePackets(Engine().Music(), CMD_MUSIC_PACKET, L"Music PacketNum is:%ld\r\n")) return 0;
    SendMusicEnd();
    return 1;
}
void CDealMsg::SendMusicEnd() { Queue(CMD_MUSIC_END, nullptr, 0); }

void CDealMsg::SendPicStart() { Queue(CMD_PIC_START, nullptr, 0); }
int CDealMsg::SendPicPackets() {
    if (!QueueImagePackets(Engine().Pic(), CMD_PIC_PACKET, L"Pic PacketNum is:%ld\r\n")) return 0;
    SendPicEnd();
    return 1;
}
void CDealMsg::SendPicEnd() { Queue(CMD_PIC_END, nullptr, 0); }

void CDealMsg::SendRadarStart() {
    const uint32_t size = Engine().Radar().GetFileSize();
    const uint8_t payload[] = {static_cast<uint8_t>(size & 0xFF), static_cast<uint8_t>((size >> 8) & 0xFF),
                               static_cast<uint8_t>((size >> 16) & 0xFF), static_cast<uint8_t>((size >> 24) & 0xFF)};
    Queue(CMD_RADAR_START, payload, 4);
}
int CDealMsg::SendRadarPackets() {
    if (!QueueImagePackets(Engine().Radar(), CMD_RADAR_PACKET, L"Radar PacketNum is:%ld\r\n")) return 0;
    SendRadarEnd();
    return 1;
}
void CDealMsg::SendRadarEnd() { Queue(CMD_RADAR_END, nullptr, 0); }

void CDealMsg::StartNextImage(int endedStep) {
    CWork_BK& engine = Engine();
    if (!engine.RunActive()) return;
    for (int step = endedStep + 1; step <= StepRadar; ++step) {
        switch (step) {
            case StepEDog:
                if (engine.EDogPacketCount() > 0) {
                    SendEDogStart();
                    return;
                }
                break;
            case StepMusic:
                if (engine.MusicPacketCount() > 0) {
                    SendMusicStart();
                    return;
                }
                break;
            case StepPic:
                if (engine.PicPacketCount() > 0) {
                    SendPicStart();
                    // Leaving the audio image shows the picture step at once; the device's ready
                    // answer announces it again.
                    if (endedStep == StepMusic) {
                        engine.SelectStep(StepPic);
                        engine.NotifyStepBegin();
                    }
                    return;
                }
                break;
            case StepRadar:
                if (engine.RadarPacketCount() > 0) {
                    SendRadarStart();
                    if (endedStep == StepPic) {
                        engine.SelectStep(StepRadar);
                        engine.NotifyStepBegin();
                    }
                    return;
                }
                break;
            default:
                break;
        }
    }
    if (engine.SettingsPending()) {
        WriteSettings();
        return;
    }
    engine.SelectStep(StepFinished);
    engine.NotifyStepEnd(0);
}
