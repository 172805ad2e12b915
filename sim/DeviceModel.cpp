#include "sim/DeviceModel.h"

#include <cstdio>
#include <utility>

#include "protocol/IspCodes.h"
#include "protocol/Packet_ISP.h"

namespace {

std::string Hex2(uint8_t value) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", value);
    return text;
}

std::vector<uint8_t> Status(uint8_t cmd, uint8_t status) { return {cmd, status}; }

uint8_t Hi(uint16_t v) { return static_cast<uint8_t>(v >> 8); }
uint8_t Lo(uint16_t v) { return static_cast<uint8_t>(v & 0xFF); }

// The three-move data images: start and its ready answer, packet and its result, end.
struct DataImageCodes {
    SimImage image;
    uint8_t start, ready, packet, result, end;
    size_t maxPacketBytes;
};
constexpr DataImageCodes kDataImages[] = {
    {SimImage::EDog, CMD_EDOG_START, ANS_EDOG_READY, CMD_EDOG_PACKET, ANS_EDOG_RESULT, CMD_EDOG_END,
     kMaxDataPacketBytes},
    {SimImage::Music, CMD_MUSIC_START, ANS_MUSIC_READY, CMD_MUSIC_PACKET, ANS_MUSIC_RESULT,
     CMD_MUSIC_END, kMaxDataPacketBytes},
    {SimImage::Pic, CMD_PIC_START, ANS_PIC_READY, CMD_PIC_PACKET, ANS_PIC_RESULT, CMD_PIC_END,
     kMaxDataPacketBytes},
    {SimImage::Radar, CMD_RADAR_START, ANS_RADAR_READY, CMD_RADAR_PACKET, ANS_RADAR_RESULT,
     CMD_RADAR_END, kMaxRadarPacketBytes},
};

constexpr size_t kRadarStartPayload = 4;
constexpr size_t kFirmwareStartPayload = 2;
constexpr size_t kFirmwareDataHeader = 5;  // 32-bit address, length byte

}  // namespace

std::vector<uint8_t> MakeFrame(uint8_t code, const std::vector<uint8_t>& payload) {
    CPacket_ISP frame;
    frame.Pack(code, payload.empty() ? nullptr : payload.data(), static_cast<uint16_t>(payload.size()));
    return std::vector<uint8_t>(frame.GetFrameData(), frame.GetFrameData() + frame.GetFrameSize());
}

CDeviceModel::CDeviceModel(DeviceConfig config, CFaultPlan faults)
    : config_(std::move(config)), faults_(std::move(faults)) {}

void CDeviceModel::StartImage(SimImage image) {
    started_[Index(image)] = true;
    ended_[Index(image)] = false;
    images_[Index(image)].clear();
    if (image == SimImage::Firmware) firmware_.Clear();
}

DeviceReaction CDeviceModel::Handle(const std::vector<uint8_t>& frame) {
    DeviceReaction reaction;
    if (frame.size() < static_cast<size_t>(ISP_FRAME_OVERHEAD)) return reaction;
    const uint8_t cmd = frame[FRAME_OFFSET_CMD];
    const std::vector<uint8_t> payload(frame.begin() + ISP_HEADER_SIZE, frame.end() - 1);
    const unsigned ordinal = static_cast<unsigned>(++receivedCounts_[cmd]);
    const unsigned frameNumber = ++framesReceived_;
    const std::string tag = Hex2(cmd) + "@" + std::to_string(ordinal);

    // The frame after a duplicated answer is the one the device refuses.
    const bool refuseAfterDuplicate = ordinal > 1 && faults_.Has(FaultKind::DupThenRefuse, cmd, ordinal - 1);
    const bool reject = faults_.Has(FaultKind::Reject, cmd, ordinal) || refuseAfterDuplicate;
    if (reject) reaction.notes.push_back("fault: reject " + tag);
    HandleCommand(cmd, payload, reject, reaction);

    if (faults_.Has(FaultKind::NoAnswer, cmd, ordinal)) {
        reaction.notes.push_back("fault: no answer to " + tag);
        reaction.answers.clear();
    }
    if (faults_.Has(FaultKind::Corrupt, cmd, ordinal)) {
        reaction.notes.push_back("fault: corrupt checksum in the answer to " + tag);
        for (auto& answer : reaction.answers) answer.back() = static_cast<uint8_t>(answer.back() + 1);
    }
    if (faults_.Has(FaultKind::Duplicate, cmd, ordinal) || faults_.Has(FaultKind::DupThenRefuse, cmd, ordinal)) {
        reaction.notes.push_back("fault: duplicate answer to " + tag);
        std::vector<std::vector<uint8_t>> doubled;
        for (const auto& answer : reaction.answers) {
            doubled.push_back(answer);
            doubled.push_back(answer);
        }
        reaction.answers = std::move(doubled);
    }
    if (faults_.Has(FaultKind::StopReading, cmd, ordinal) ||
        faults_.HasFrame(FaultKind::StopReadingAtFrame, framesReceived_)) {
        reaction.notes.push_back("fault: stop reading after " + tag + " (frame " + std::to_string(framesReceived_) +
                                 "), answering " + std::to_string(kAnswersAheadOnStop) + " frames ahead");
        std::vector<std::vector<uint8_t>> ahead;
        for (unsigned i = 0; i <= kAnswersAheadOnStop; ++i)
            ahead.insert(ahead.end(), reaction.answers.begin(), reaction.answers.end());
        reaction.answers = std::move(ahead);
        reaction.stopReading = true;
    }
    if (faults_.Has(FaultKind::NoticeAfter, cmd, ordinal)) {
        reaction.notes.push_back("fault: device notice after " + tag);
        reaction.answers.push_back(MakeFrame(ANS_DEVICE_NOTICE, {}));
    }
    const std::vector<uint8_t> strays = faults_.StraysBefore(frameNumber);
    for (size_t i = 0; i < strays.size(); ++i) {
        reaction.notes.push_back("fault: stray answer " + Hex2(strays[i]) + " before the answers to frame " +
                                 std::to_string(frameNumber) + " (" + tag + ")");
        reaction.answers.insert(reaction.answers.begin() + static_cast<std::ptrdiff_t>(i), StrayAnswer(strays[i]));
    }
    if (faults_.Has(FaultKind::HangUp, cmd, ordinal)) {
        // The frame still counts as received (its bytes are kept), but a device that is gone says
        // nothing more.
        reaction.notes.push_back("fault: hang up after " + tag);
        reaction.answers.clear();
        reaction.hangUp = true;
    }
    return reaction;
}

void CDeviceModel::HandleCommand(uint8_t cmd, const std::vector<uint8_t>& payload, bool reject,
                                 DeviceReaction& reaction) {
    auto refuse = [&](uint8_t status, const std::string& why) {
        reaction.answers.push_back(MakeFrame(ANS_ACK, Status(cmd, status)));
        reaction.notes.push_back("refused " + Hex2(cmd) + ": " + why);
    };

    for (const DataImageCodes& codes : kDataImages) {
        if (cmd == codes.start) {
            if (codes.image == SimImage::Radar && payload.size() != kRadarStartPayload) {
                refuse(DEVICE_STATUS_BAD_PARAMETERS, "radar start needs a 4-byte size");
                return;
            }
            if (reject) {
                refuse(DEVICE_STATUS_INVALID_COMMAND, "rejected on request");
                return;
            }
            StartImage(codes.image);
            if (codes.image == SimImage::Radar) {
                radarSize_ = static_cast<uint32_t>(payload[0]) | (static_cast<uint32_t>(payload[1]) << 8) |
                             (static_cast<uint32_t>(payload[2]) << 16) |
                             (static_cast<uint32_t>(payload[3]) << 24);
            }
            reaction.started = codes.image;
            reaction.answers.push_back(MakeFrame(codes.ready, {}));
            return;
        }
        if (cmd == codes.packet) {
            HandlePacket(codes.image, cmd, codes.result, codes.maxPacketBytes, payload, reject, reaction);
            return;
        }
        if (cmd == codes.end) {
            // The device never answers an end command, not even to refuse it.
            if (reject) reaction.notes.push_back("reject has no effect: end commands get no answer");
            ended_[Index(codes.image)] = true;
            reaction.ended = codes.image;
            return;
        }
    }

    switch (cmd) {
    case CMD_DEVICE_INFO: {
        reaction.deviceInfo = true;
        if (payload.size() != 1) {
            refuse(DEVICE_STATUS_BAD_PARAMETERS, "device information request needs the port byte");
            return;
        }
        if (reject) {
            refuse(DEVICE_STATUS_INVALID_COMMAND, "rejected on request");
            return;
        }
        const uint8_t echoed = faults_.infoEcho >= 0 ? static_cast<uint8_t>(faults_.infoEcho) : CMD_DEVICE_INFO;
        reaction.answers.push_back(MakeFrame(
            ANS_DEVICE_INFO, {echoed, payload[0], Hi(config_.firmwareVersion),
                              Lo(config_.firmwareVersion), Hi(config_.dataVersion),
                              Lo(config_.dataVersion), Hi(config_.radarVersion),
                              Lo(config_.radarVersion)}));
        return;
    }
    case CMD_READ_SETTINGS:
    case CMD_READ_SETTINGS_INFO: {
        if (reject) {
            refuse(DEVICE_STATUS_INVALID_COMMAND, "rejected on request");
            return;
        }
        const SimSettingsBlock& block = cmd == CMD_READ_SETTINGS ? config_.settings : config_.settingsInfo;
        std::vector<uint8_t> answer{cmd};
        answer.insert(answer.end(), block.begin(), block.end());
        if (faults_.shortSettingsBytes >= 0) {
            // Cut short, or padded with zeros beyond the block.
            answer.resize(1 + static_cast<size_t>(faults_.shortSettingsBytes), 0);
            reaction.notes.push_back("fault: settings answer with " + std::to_string(faults_.shortSettingsBytes) +
                                     " block bytes");
        }
        reaction.answers.push_back(MakeFrame(ANS_SETTINGS, answer));
        return;
    }
    case CMD_WRITE_SETTINGS: {
        if (payload.size() != SETTINGS_BLOCK_SIZE) {
            refuse(DEVICE_STATUS_BAD_PARAMETERS, "settings write needs 73 bytes");
            return;
        }
        if (reject) {
            reaction.answers.push_back(MakeFrame(ANS_SETTINGS_WRITTEN, Status(cmd, PACKET_STATUS_REFUSED)));
            return;
        }
        SimSettingsBlock block{};
        std::copy(payload.begin(), payload.end(), block.begin());
        writtenSettings_ = block;
        config_.settings = block;  // later 'G' reads report what was written
        reaction.settingsWritten = true;
        reaction.answers.push_back(MakeFrame(ANS_SETTINGS_WRITTEN, Status(cmd, PACKET_STATUS_ACCEPTED)));
        return;
    }
    case CMD_FIRMWARE_START: {
        if (payload.size() != kFirmwareStartPayload) {
            refuse(DEVICE_STATUS_BAD_PARAMETERS, "firmware start needs a 2-byte version");
            return;
        }
        if (reject) {
            refuse(DEVICE_STATUS_INVALID_COMMAND, "rejected on request");
            return;
        }
        StartImage(SimImage::Firmware);
        receivedFirmwareVersion_ = static_cast<uint16_t>((payload[0] << 8) | payload[1]);
        reaction.started = SimImage::Firmware;
        reaction.answers.push_back(MakeFrame(ANS_FIRMWARE_START_SEEN, {}));
        reaction.answers.push_back(MakeFrame(ANS_FIRMWARE_READY, {}));
        return;
    }
    case CMD_FIRMWARE_DATA:
        HandleFirmwareData(payload, reject, reaction);
        return;
    case CMD_FIRMWARE_END:
        if (reject) {
            refuse(DEVICE_STATUS_INVALID_COMMAND, "rejected on request");
            return;
        }
        ended_[Index(SimImage::Firmware)] = true;
        reaction.ended = SimImage::Firmware;
        reaction.answers.push_back(MakeFrame(ANS_ACK, Status(cmd, ACK_STATUS_ACCEPTED)));
        return;
    case CMD_ACK:
        return;  // the tool's acknowledgement of a device notice: nothing to answer
    default:
        refuse(DEVICE_STATUS_INVALID_COMMAND, "unknown command");
        return;
    }
}

std::vector<uint8_t> CDeviceModel::StrayAnswer(uint8_t code) const {
    switch (code) {
    case ANS_ACK: return MakeFrame(code, Status(CMD_FIRMWARE_DATA, ACK_STATUS_ACCEPTED));
    case ANS_SETTINGS_WRITTEN: return MakeFrame(code, Status(CMD_WRITE_SETTINGS, PACKET_STATUS_ACCEPTED));
    case ANS_DEVICE_INFO:
        return MakeFrame(code, {CMD_DEVICE_INFO, 1, Hi(config_.firmwareVersion), Lo(config_.firmwareVersion),
                                Hi(config_.dataVersion), Lo(config_.dataVersion), Hi(config_.radarVersion),
                                Lo(config_.radarVersion)});
    case ANS_SETTINGS: {
        std::vector<uint8_t> answer{CMD_READ_SETTINGS};
        answer.insert(answer.end(), config_.settings.begin(), config_.settings.end());
        return MakeFrame(code, answer);
    }
    default: break;
    }
    for (const DataImageCodes& codes : kDataImages)
        if (code == codes.result) return MakeFrame(code, Status(codes.packet, PACKET_STATUS_ACCEPTED));
    return MakeFrame(code, {});  // the ready answers, the notice and the rest carry nothing
}

void CDeviceModel::HandleFirmwareData(const std::vector<uint8_t>& payload, bool reject,
                                      DeviceReaction& reaction) {
    const uint8_t cmd = CMD_FIRMWARE_DATA;
    auto answer = [&](uint8_t status) { reaction.answers.push_back(MakeFrame(ANS_ACK, Status(cmd, status))); };
    if (payload.size() < kFirmwareDataHeader || payload.size() != kFirmwareDataHeader + payload[4]) {
        answer(DEVICE_STATUS_BAD_PARAMETERS);
        reaction.notes.push_back("refused 0x06: length byte does not match the payload");
        return;
    }
    if (reject) {
        answer(DEVICE_STATUS_INVALID_COMMAND);
        return;
    }
    const uint32_t address = static_cast<uint32_t>(payload[0]) | (static_cast<uint32_t>(payload[1]) << 8) |
                             (static_cast<uint32_t>(payload[2]) << 16) |
                             (static_cast<uint32_t>(payload[3]) << 24);
    if (!firmware_.Write(address, payload.data() + kFirmwareDataHeader, payload[4])) {
        answer(DEVICE_STATUS_ADDRESS_RANGE);
        char text[96];
        std::snprintf(text, sizeof text, "refused 0x06: address 0x%08X widens the image beyond 16 MiB",
                      static_cast<unsigned>(address));
        reaction.notes.push_back(text);
        return;
    }
    started_[Index(SimImage::Firmware)] = true;
    answer(ACK_STATUS_ACCEPTED);
}

void CDeviceModel::HandlePacket(SimImage image, uint8_t cmd, uint8_t resultCode, size_t maxBytes,
                                const std::vector<uint8_t>& payload, bool reject,
                                DeviceReaction& reaction) {
    if (payload.empty() || payload.size() > maxBytes) {
        reaction.answers.push_back(MakeFrame(ANS_ACK, Status(cmd, DEVICE_STATUS_BAD_PARAMETERS)));
        reaction.notes.push_back("refused " + Hex2(cmd) + ": packet of " + std::to_string(payload.size()) +
                                 " bytes (1.." + std::to_string(maxBytes) + " allowed)");
        return;
    }
    if (reject) {
        reaction.answers.push_back(MakeFrame(resultCode, Status(cmd, PACKET_STATUS_REFUSED)));
        return;
    }
    started_[Index(image)] = true;
    std::vector<uint8_t>& bytes = images_[Index(image)];
    bytes.insert(bytes.end(), payload.begin(), payload.end());
    reaction.answers.push_back(MakeFrame(resultCode, Status(cmd, PACKET_STATUS_ACCEPTED)));
}
