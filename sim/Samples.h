// A deterministic set of update files for end-to-end runs: the same bytes on every call.
//
//   AC7811_project.hex  24 KiB of firmware from 0x0800C000 (two 64 KiB segments) in 16-byte
//                       records, CR LF line ends, then a start-address record, the end-of-file
//                       record and the version trailer "0105\r\n"
//   flagdata.bin 300000 bytes, audioHead.bin 250000, picHead.bin 200000 (none a multiple of 4096)
//   rdfwd.bin    70000 bytes (not a multiple of 1024)
//   ver.txt      "AC7811\n0105\n0300\n1a2c\n"
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

constexpr uint32_t kSampleFirmwareBase = 0x0800C000;
constexpr uint32_t kSampleFirmwareBytes = 24 * 1024;
constexpr uint32_t kSampleEntryPoint = 0x0800C101;
constexpr uint32_t kSampleHexRecordBytes = 16;
constexpr uint32_t kSampleEDogBytes = 300000;
constexpr uint32_t kSampleMusicBytes = 250000;
constexpr uint32_t kSamplePicBytes = 200000;
constexpr uint32_t kSampleRadarBytes = 70000;

// What a set holds besides ver.txt: pseudo-random firmware (from its seed) as a HEX file in
// kSampleHexRecordBytes records with the start address `entryPoint`, and pseudo-random binary
// images. The simulator's set above is one such plan; the benchmark writes a larger one.
struct SampleImage {
    const char* name;
    uint32_t seed;
    size_t bytes;
};
struct SampleSetPlan {
    uint32_t firmwareSeed;
    uint32_t firmwareBase;
    size_t firmwareBytes;
    uint32_t entryPoint;
    std::vector<SampleImage> images;
};

// Writes the simulator's set, or that of `plan`, into `dir` (created if missing). Returns 1, or 0
// with a reason.
int WriteSampleSet(const std::string& dir, std::string& error);
int WriteSampleSet(const std::string& dir, const SampleSetPlan& plan, std::string& error);

// `count` bytes of a xorshift32 sequence: the same for a seed on every platform and compiler.
std::vector<uint8_t> SampleBytes(uint32_t seed, size_t count);
// `firmware` as HEX text from `base`, with the start address `entryPoint` and the version trailer.
std::string SampleHexText(const std::vector<uint8_t>& firmware, uint32_t base, uint32_t entryPoint);
