#include "sim/Samples.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>

namespace {

constexpr size_t kHexRecordBytes = kSampleHexRecordBytes;
constexpr uint8_t kRecordData = 0x00;
constexpr uint8_t kRecordEndOfFile = 0x01;
constexpr uint8_t kRecordExtendedLinear = 0x04;
constexpr uint8_t kRecordStartLinear = 0x05;

std::string HexRecord(uint8_t type, uint16_t offset, const uint8_t* data, size_t count) {
    char piece[4];
    std::string line = ":";
    unsigned sum = 0;
    auto put = [&](uint8_t byte) {
        std::snprintf(piece, sizeof piece, "%02X", byte);
        line += piece;
        sum += byte;
    };
    put(static_cast<uint8_t>(count));
    put(static_cast<uint8_t>(offset >> 8));
    put(static_cast<uint8_t>(offset & 0xFF));
    put(type);
    for (size_t i = 0; i < count; ++i) put(data[i]);
    std::snprintf(piece, sizeof piece, "%02X", static_cast<unsigned>((0x100 - (sum & 0xFF)) & 0xFF));
    line += piece;
    line += "\r\n";
    return line;
}

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

int WriteBytes(const std::string& path, const void* data, size_t size, std::string& error) {
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "wb"));
    if (!file || std::fwrite(data, 1, size, file.get()) != size || std::fflush(file.get()) != 0) {
        error = "cannot write '" + path + "'";
        return 0;
    }
    return 1;
}

}  // namespace

std::vector<uint8_t> SampleBytes(uint32_t seed, size_t count) {
    std::vector<uint8_t> bytes(count);
    uint32_t state = seed;
    for (size_t i = 0; i < count; ++i) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        bytes[i] = static_cast<uint8_t>(state >> 24);
    }
    return bytes;
}

std::string SampleHexText(const std::vector<uint8_t>& firmware, uint32_t base, uint32_t entryPoint) {
    std::string text;
    uint32_t upper = 0xFFFFFFFF;  // no segment yet
    for (size_t pos = 0; pos < firmware.size(); pos += kHexRecordBytes) {
        const uint32_t address = base + static_cast<uint32_t>(pos);
        if ((address >> 16) != upper) {
            upper = address >> 16;
            const uint8_t segment[2] = {static_cast<uint8_t>(upper >> 8), static_cast<uint8_t>(upper & 0xFF)};
            text += HexRecord(kRecordExtendedLinear, 0, segment, 2);
        }
        text += HexRecord(kRecordData, static_cast<uint16_t>(address & 0xFFFF), firmware.data() + pos,
                          std::min(kHexRecordBytes, firmware.size() - pos));
    }
    const uint8_t entry[4] = {static_cast<uint8_t>(entryPoint >> 24), static_cast<uint8_t>(entryPoint >> 16),
                              static_cast<uint8_t>(entryPoint >> 8), static_cast<uint8_t>(entryPoint)};
    text += HexRecord(kRecordStartLinear, 0, entry, 4);
    text += HexRecord(kRecordEndOfFile, 0, nullptr, 0);
    text += "0105\r\n";
    return text;
}

int WriteSampleSet(const std::string& dir, std::string& error) {
    const SampleSetPlan plan = {0x7811C0DE,
                                kSampleFirmwareBase,
                                kSampleFirmwareBytes,
                                kSampleEntryPoint,
                                {
                                    {"flagdata.bin", 0xF1A6DA7A, kSampleEDogBytes},
                                    {"audioHead.bin", 0xA0D10001, kSampleMusicBytes},
                                    {"picHead.bin", 0x91C00002, kSamplePicBytes},
                                    {"rdfwd.bin", 0x5ADA5003, kSampleRadarBytes},
                                }};
    return WriteSampleSet(dir, plan, error);
}

int WriteSampleSet(const std::string& dir, const SampleSetPlan& plan, std::string& error) {
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    if (ec || !std::filesystem::is_directory(dir, ec)) {
        error = "cannot create sample folder '" + dir + "'";
        return 0;
    }
    const std::string hex =
        SampleHexText(SampleBytes(plan.firmwareSeed, plan.firmwareBytes), plan.firmwareBase, plan.entryPoint);
    if (!WriteBytes(dir + "/AC7811_project.hex", hex.data(), hex.size(), error)) return 0;
    for (const SampleImage& image : plan.images) {
        const std::vector<uint8_t> bytes = SampleBytes(image.seed, image.bytes);
        if (!WriteBytes(dir + "/" + image.name, bytes.data(), bytes.size(), error)) return 0;
    }
    const std::string version = "AC7811\n0105\n0300\n1a2c\n";
    return WriteBytes(dir + "/ver.txt", version.data(), version.size(), error);
}
