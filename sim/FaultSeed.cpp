#include "sim/FaultSeed.h"

#include <cstdio>
#include <iterator>

#include "protocol/IspCodes.h"
#include "sim/DeviceModel.h"
#include "sim/Samples.h"

namespace {

// splitmix64: a few lines, the same numbers everywhere.
class CSeedRandom {
public:
    explicit CSeedRandom(uint32_t seed) : state_(seed) {}
    uint64_t Next() {
        uint64_t z = (state_ += 0x9E3779B97F4A7C15ULL);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        return z ^ (z >> 31);
    }
    // 0..count-1; the bias of the modulo is far below anything a soak could notice.
    unsigned Below(unsigned count) { return static_cast<unsigned>(Next() % count); }
    bool OneIn(unsigned count) { return Below(count) == 0; }

private:
    uint64_t state_;
};

constexpr unsigned CeilDiv(unsigned a, unsigned b) { return (a + b - 1) / b; }
// The tool sends a radar image in 1024-byte packets, then the rest in 128-byte packets.
constexpr unsigned RadarPackets(unsigned bytes) { return bytes / 1024 + CeilDiv(bytes % 1024, 128); }

// Every frame of a run of the sample set, with how many of it the run has. 'E' is the probe, then
// the device-information request. End commands get no answer, so only a hang-up or a notice can
// hit them.
struct SeedTarget {
    uint8_t cmd;
    unsigned frames;
    bool answered;
};
constexpr SeedTarget kTargets[] = {
    {CMD_DEVICE_INFO, 2, true},
    {CMD_READ_SETTINGS, 1, true},
    {CMD_READ_SETTINGS_INFO, 1, true},
    {CMD_FIRMWARE_START, 1, true},
    {CMD_FIRMWARE_DATA, kSampleFirmwareBytes / kSampleHexRecordBytes, true},
    {CMD_FIRMWARE_END, 1, true},
    {CMD_EDOG_START, 1, true},
    {CMD_EDOG_PACKET, CeilDiv(kSampleEDogBytes, kMaxDataPacketBytes), true},
    {CMD_EDOG_END, 1, false},
    {CMD_MUSIC_START, 1, true},
    {CMD_MUSIC_PACKET, CeilDiv(kSampleMusicBytes, kMaxDataPacketBytes), true},
    {CMD_MUSIC_END, 1, false},
    {CMD_PIC_START, 1, true},
    {CMD_PIC_PACKET, CeilDiv(kSamplePicBytes, kMaxDataPacketBytes), true},
    {CMD_PIC_END, 1, false},
    {CMD_RADAR_START, 1, true},
    {CMD_RADAR_PACKET, RadarPackets(kSampleRadarBytes), true},
    {CMD_RADAR_END, 1, false},
};

// Faults tied to one frame. A refused radar packet is left out: the radar module's result byte
// carries no accepted/refused meaning, so no tool can see that refusal, and every such seed would
// only repeat that known blind spot.
struct SeedFrameFault {
    const char* option;
    bool answeredOnly;
    bool radarPacketToo;
};
constexpr SeedFrameFault kFrameFaults[] = {
    {"--no-answer", true, true},    {"--stop-reading-after", true, true},
    {"--reject", true, false},      {"--corrupt", true, true},
    {"--duplicate", true, true},    {"--notice-after", false, true}, {"--hangup", false, true},
};

// Faults of the whole line, each drawn on its own. Delays stay small: every answer of the run
// (about 1800) carries them, and a probe answer must still come within the probe's second.
struct SeedLineFault {
    const char* option;
    const char* values[3];  // null: a flag
};
constexpr SeedLineFault kLineFaults[] = {
    {"--split", {}},
    {"--junk", {}},
    {"--probe-junk", {}},
    {"--delay-ms", {"1", "2", "5"}},
    {"--probe-delay-ms", {"100", "400", "700"}},
};
constexpr unsigned kLineFaultOneIn = 4;
constexpr unsigned kMaxFrameFaults = 3;

// Answers a device might send unasked, or a noisy line might forge: another image's ready answer, a
// settings write's answer nobody asked for, a packet result, the firmware's start answers.
constexpr uint8_t kStrayCodes[] = {ANS_SETTINGS_WRITTEN, ANS_EDOG_READY,    ANS_MUSIC_READY,  ANS_PIC_READY,
                                   ANS_RADAR_READY,      ANS_FIRMWARE_READY, ANS_FIRMWARE_START_SEEN,
                                   ANS_DEVICE_INFO,      ANS_SETTINGS,       ANS_IGNORED,      ANS_EDOG_RESULT,
                                   ANS_ACK};
// Drawn after the faults above, so a seed keeps the faults it stood for before these were added.
constexpr unsigned kStrayOneIn = 3;
constexpr unsigned kDupThenRefuseOneIn = 4;
struct SeedDeviceFault {
    const char* option;
    const char* values[3];
};
constexpr SeedDeviceFault kDeviceFaults[] = {
    {"--short-settings", {"10", "0", "72"}},
    {"--info-echo", {"0x00", "0x46", "0xFF"}},
};
constexpr unsigned kDeviceFaultOneIn = 6;

unsigned RunFrames() {
    unsigned frames = 0;
    for (const SeedTarget& target : kTargets) frames += target.frames;
    return frames;
}

bool Allowed(const SeedFrameFault& fault, const SeedTarget& target) {
    if (fault.answeredOnly && !target.answered) return false;
    return fault.radarPacketToo || target.cmd != CMD_RADAR_PACKET;
}

}  // namespace

std::vector<std::string> SeedFaultArgs(uint32_t seed) {
    CSeedRandom random(seed);
    std::vector<std::string> args;
    const unsigned frameFaults = random.Below(kMaxFrameFaults + 1);
    for (unsigned i = 0; i < frameFaults; ++i) {
        const SeedFrameFault& fault = kFrameFaults[random.Below(std::size(kFrameFaults))];
        std::vector<const SeedTarget*> targets;
        for (const SeedTarget& target : kTargets)
            if (Allowed(fault, target)) targets.push_back(&target);
        const SeedTarget& target = *targets[random.Below(static_cast<unsigned>(targets.size()))];
        char spec[24];
        std::snprintf(spec, sizeof spec, "0x%02X@%u", static_cast<unsigned>(target.cmd), 1 + random.Below(target.frames));
        args.push_back(fault.option);
        args.push_back(spec);
    }
    for (const SeedLineFault& fault : kLineFaults) {
        if (!random.OneIn(kLineFaultOneIn)) continue;
        args.push_back(fault.option);
        if (fault.values[0] != nullptr) args.push_back(fault.values[random.Below(std::size(fault.values))]);
    }
    char spec[24];
    if (random.OneIn(kStrayOneIn)) {
        const uint8_t code = kStrayCodes[random.Below(std::size(kStrayCodes))];
        std::snprintf(spec, sizeof spec, "0x%02X@%u", static_cast<unsigned>(code), 1 + random.Below(RunFrames()));
        args.push_back("--stray-answer");
        args.push_back(spec);
    }
    if (random.OneIn(kDupThenRefuseOneIn)) {
        // A packet of an image whose refusals the tool can see.
        std::vector<const SeedTarget*> packets;
        for (const SeedTarget& target : kTargets)
            if (target.frames > 1 && target.cmd != CMD_RADAR_PACKET && target.cmd != CMD_DEVICE_INFO) packets.push_back(&target);
        const SeedTarget& target = *packets[random.Below(static_cast<unsigned>(packets.size()))];
        std::snprintf(spec, sizeof spec, "0x%02X@%u", static_cast<unsigned>(target.cmd), 1 + random.Below(target.frames));
        args.push_back("--dup-then-refuse");
        args.push_back(spec);
    }
    for (const SeedDeviceFault& fault : kDeviceFaults) {
        if (!random.OneIn(kDeviceFaultOneIn)) continue;
        args.push_back(fault.option);
        args.push_back(fault.values[random.Below(std::size(fault.values))]);
    }
    return args;
}

std::string JoinArgs(const std::vector<std::string>& args) {
    std::string text;
    for (const std::string& arg : args) {
        if (!text.empty()) text += ' ';
        text += arg;
    }
    return text;
}
