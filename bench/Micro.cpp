// Micro-benchmarks of the paths every frame and every file byte goes through.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "protocol/Packet_ISP.h"
#include "protocol/ReceivePath.h"
#include "files/File_EDogMusicPic.h"
#include "files/File_Project.h"
#include "base/Trace.h"
#include "files/Packet_Hex.h"

namespace {

// The readers trace what they load; here that would only bury the figures.
const bool kTraceSilenced = (SetTraceFile(nullptr), true);

std::vector<uint8_t> Noise(size_t count, uint32_t seed) {
    std::vector<uint8_t> bytes(count);
    for (uint8_t& byte : bytes) {
        seed = seed * 1103515245u + 12345u;
        byte = static_cast<uint8_t>(seed >> 16);
    }
    return bytes;
}

// A firmware record frame (26 bytes) and a data packet frame (4101 bytes).
void BM_PackFrame(benchmark::State& state) {
    const std::vector<uint8_t> payload = Noise(static_cast<size_t>(state.range(0)), 1);
    CPacket_ISP frame;
    for (auto _ : state) {
        frame.Pack(0x19, payload.data(), static_cast<uint16_t>(payload.size()));
        benchmark::DoNotOptimize(frame.GetFrameData());
    }
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(state.iterations() * (static_cast<int64_t>(payload.size()) + 5));
}
BENCHMARK(BM_PackFrame)->Arg(21)->Arg(4096);

// The stream a reader thread sees: 7-byte answers behind junk (with false start bytes), cut into
// chunks that split frames, as a USB adapter or a pty hands them over.
void BM_FrameFinder(benchmark::State& state) {
    std::vector<uint8_t> stream;
    const int frames = 256;
    for (int i = 0; i < frames; ++i) {
        if (i % 4 == 0) {
            const std::vector<uint8_t> junk = Noise(13, static_cast<uint32_t>(i));
            stream.insert(stream.end(), junk.begin(), junk.end());
            stream.insert(stream.end(), {0xAC, 0x03});  // a false start: too short to be a frame
        }
        CPacket_ISP answer;
        const uint8_t status[2] = {0x19, 0x02};
        answer.Pack(0x0D, status, 2);
        stream.insert(stream.end(), answer.GetFrameData(), answer.GetFrameData() + answer.GetFrameSize());
    }
    const int chunk = static_cast<int>(state.range(0));
    int64_t delivered = 0;
    for (auto _ : state) {
        CRawString buffer;
        for (size_t at = 0; at < stream.size(); at += static_cast<size_t>(chunk)) {
            const int length = static_cast<int>(std::min<size_t>(static_cast<size_t>(chunk), stream.size() - at));
            delivered += ReceiveChunk(buffer, stream.data() + at, length, [](const CRawString& f) { benchmark::DoNotOptimize(f.Size()); });
        }
    }
    if (delivered != frames * static_cast<int64_t>(state.iterations())) state.SkipWithError("frames lost");
    state.SetItemsProcessed(delivered);
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(stream.size()));
}
BENCHMARK(BM_FrameFinder)->Arg(5)->Arg(64)->Arg(1024);

std::string TempPath(const char* name) { return "/tmp/iap-bench-" + std::to_string(getpid()) + "-" + name; }

std::wstring Wide(const std::string& path) { return std::wstring(path.begin(), path.end()); }

std::string HexFile(size_t dataBytes) {
    const std::vector<uint8_t> data = Noise(dataBytes, 7);
    std::string text;
    for (size_t at = 0; at < data.size(); at += 16) {
        const uint32_t address = 0x08000000u + static_cast<uint32_t>(at);
        if (at % 0x10000 == 0) {
            const unsigned upper = address >> 16;
            const unsigned sum = (2 + 4 + (upper >> 8) + (upper & 0xFF)) & 0xFF;
            char line[32];
            std::snprintf(line, sizeof line, ":02000004%04X%02X\r\n", upper, (0x100 - sum) & 0xFF);
            text += line;
        }
        unsigned sum = 16 + ((address >> 8) & 0xFF) + (address & 0xFF);
        char line[64];
        int n = std::snprintf(line, sizeof line, ":10%04X00", address & 0xFFFF);
        for (size_t i = 0; i < 16; ++i) {
            n += std::snprintf(line + n, sizeof line - static_cast<size_t>(n), "%02X", data[at + i]);
            sum += data[at + i];
        }
        std::snprintf(line + n, sizeof line - static_cast<size_t>(n), "%02X\r\n", (0x100 - (sum & 0xFF)) & 0xFF);
        text += line;
    }
    return text + ":0400000508000101ED\r\n:00000001FF\r\n0105\r\n";
}

// Per MiB of image: the HEX reader on a firmware of 1 MiB of data, the binary reader on 1 MiB.
void BM_LoadHexPerMiB(benchmark::State& state) {
    const std::string path = TempPath("firmware.hex");
    std::ofstream(path, std::ios::binary) << HexFile(1024 * 1024);
    for (auto _ : state) {
        CFile_Project reader(HEX_EXTENDED_ADDRESS_LINE, HEX_DATA_LINE, HEX_START_ADDRESS_LINE, HEX_END_OF_FILE_LINE);
        if (!reader.Load(Wide(path).c_str())) state.SkipWithError("HEX file refused");
        benchmark::DoNotOptimize(reader.GetPacketCount());
    }
    state.SetBytesProcessed(state.iterations() * 1024 * 1024);
    std::remove(path.c_str());
}
BENCHMARK(BM_LoadHexPerMiB)->Unit(benchmark::kMillisecond);

void BM_LoadBinaryPerMiB(benchmark::State& state) {
    const std::string path = TempPath("flagdata.bin");
    const std::vector<uint8_t> data = Noise(1024 * 1024, 9);
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
    for (auto _ : state) {
        CFile_EDogMusicPic reader(HEX_EXTENDED_ADDRESS_LINE, HEX_DATA_LINE, HEX_START_ADDRESS_LINE, HEX_END_OF_FILE_LINE);
        if (!reader.Load(Wide(path).c_str())) state.SkipWithError("binary file refused");
        benchmark::DoNotOptimize(reader.GetPacketCount());
    }
    state.SetBytesProcessed(state.iterations() * 1024 * 1024);
    std::remove(path.c_str());
}
BENCHMARK(BM_LoadBinaryPerMiB)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
