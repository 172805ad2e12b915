// What the simulated device does with each command frame: its answers and what it keeps.
//
// Pure logic, no I/O and no clock: Handle takes one checked frame and returns the answer frames
// (with the planned faults already applied) plus what changed. Line shaping (delays, split
// writes, junk, pacing) is the line scheduler's job. Single-threaded use.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "sim/FaultPlan.h"
#include "sim/FirmwareMemory.h"
#include "sim/SettingsBlocks.h"

enum class SimImage { Firmware, EDog, Music, Pic, Radar };
constexpr size_t kSimImageCount = 5;

// Longest data packet the device takes per image kind; the tool cuts data images into 4096-byte
// and radar images into 1024-byte packets.
constexpr size_t kMaxDataPacketBytes = 4096;
constexpr size_t kMaxRadarPacketBytes = 1024;
constexpr size_t kMaxCommandFrameBytes = kMaxDataPacketBytes + ISP_FRAME_OVERHEAD;

// Status bytes this device uses when it refuses a command (its 0x0D or packet-result answers).
constexpr uint8_t DEVICE_STATUS_INVALID_COMMAND = 3;
constexpr uint8_t DEVICE_STATUS_BAD_PARAMETERS = 7;
constexpr uint8_t DEVICE_STATUS_ADDRESS_RANGE = 8;
constexpr uint8_t PACKET_STATUS_REFUSED = 0;
// A device that stops reading has answered this many frames ahead of the tool: enough packets of
// 4101 bytes to fill a pseudo-terminal's buffer (about 15 KiB) twice over.
constexpr unsigned kAnswersAheadOnStop = 8;

struct DeviceConfig {
    uint16_t firmwareVersion = 12;
    uint16_t dataVersion = 256;
    uint16_t radarVersion = 0x1a2b;
    SimSettingsBlock settings = DefaultSettingsBlock();
    SimSettingsBlock settingsInfo = DefaultSettingsInfoBlock();
};

struct DeviceReaction {
    std::vector<std::vector<uint8_t>> answers;  // whole frames, in sending order
    std::vector<std::string> notes;             // refusals and injected faults, for the frame log
    std::optional<SimImage> started;            // a start command (re)opened this image
    std::optional<SimImage> ended;              // an end command closed this image
    bool settingsWritten = false;
    bool deviceInfo = false;                    // an 'E' frame: its answers take the probe delay
    bool hangUp = false;                        // the device goes away after this frame
    bool stopReading = false;                   // the device reads nothing after this frame
};

class CDeviceModel {
public:
    CDeviceModel(DeviceConfig config, CFaultPlan faults);

    // `frame` is one complete frame whose length and checksum have been checked.
    DeviceReaction Handle(const std::vector<uint8_t>& frame);

    // What the device received. An image is seen once its start command or a packet came; its
    // bytes are those of its last transfer, since its start command empties them.
    bool ImageSeen(SimImage image) const { return started_[Index(image)]; }
    // Its end command closed the image since its last start (the firmware's only when accepted):
    // the device takes an image as complete only then.
    bool ImageEnded(SimImage image) const { return ended_[Index(image)]; }
    const std::vector<uint8_t>& ImageBytes(SimImage image) const { return images_[Index(image)]; }
    const CFirmwareMemory& Firmware() const { return firmware_; }
    uint16_t ReceivedFirmwareVersion() const { return receivedFirmwareVersion_; }
    std::optional<uint32_t> RadarSize() const { return radarSize_; }
    std::optional<SimSettingsBlock> WrittenSettings() const { return writtenSettings_; }
    const std::map<uint8_t, unsigned long>& ReceivedCounts() const { return receivedCounts_; }

private:
    static size_t Index(SimImage image) { return static_cast<size_t>(image); }
    void HandleCommand(uint8_t cmd, const std::vector<uint8_t>& payload, bool reject,
                       DeviceReaction& reaction);
    void HandlePacket(SimImage image, uint8_t cmd, uint8_t resultCode, size_t maxBytes,
                      const std::vector<uint8_t>& payload, bool reject, DeviceReaction& reaction);
    void HandleFirmwareData(const std::vector<uint8_t>& payload, bool reject, DeviceReaction& reaction);
    void StartImage(SimImage image);
    // A well-formed frame of answer `code` as the device would send it unasked.
    std::vector<uint8_t> StrayAnswer(uint8_t code) const;

    DeviceConfig config_;
    CFaultPlan faults_;
    std::array<bool, kSimImageCount> started_{};
    std::array<bool, kSimImageCount> ended_{};
    std::array<std::vector<uint8_t>, kSimImageCount> images_;  // firmware slot unused
    CFirmwareMemory firmware_;
    uint16_t receivedFirmwareVersion_ = 0;
    std::optional<uint32_t> radarSize_;
    std::optional<SimSettingsBlock> writtenSettings_;
    std::map<uint8_t, unsigned long> receivedCounts_;
    unsigned framesReceived_ = 0;  // every frame, of any code
};

// One answer frame: AC, length, code, payload, checksum.
std::vector<uint8_t> MakeFrame(uint8_t code, const std::vector<uint8_t>& payload);
