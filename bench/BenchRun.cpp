// iap-bench-run: the end-to-end benchmark's helper.
//   iap-bench-run --make-set DIR        writes the benchmark's update set (sizes below) into DIR
//   iap-bench-run --report FILE PROG... runs PROG, waits for it and writes "status N", "cpu_us N",
//                                       "max_rss_kib N" and "wall_us N" lines to FILE
// The figures come from wait4(), so they are the program's own, without this helper or a shell.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace {

// A realistic update: firmware 256 KiB in 16-byte records over four 64 KiB segments, camera data
// 1 MiB, audio 512 KiB, pictures 256 KiB, radar 64 KiB and a 300-byte tail.
constexpr uint32_t kFirmwareBase = 0x08000000;
constexpr size_t kFirmwareBytes = 256 * 1024;
constexpr size_t kRecordBytes = 16;
constexpr uint32_t kEntryPoint = 0x08000101;

std::vector<uint8_t> Bytes(uint32_t seed, size_t count) {
    std::vector<uint8_t> bytes(count);
    uint32_t state = seed;
    for (uint8_t& byte : bytes) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        byte = static_cast<uint8_t>(state >> 24);
    }
    return bytes;
}

std::string Record(uint8_t type, uint16_t offset, const uint8_t* data, size_t count) {
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
    put(static_cast<uint8_t>(offset));
    put(type);
    for (size_t i = 0; i < count; ++i) put(data[i]);
    std::snprintf(piece, sizeof piece, "%02X", (0x100 - (sum & 0xFF)) & 0xFF);
    return line + piece + "\r\n";
}

bool WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream file(path, std::ios::binary);
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(file);
}

int MakeSet(const std::string& dir) {
    const std::vector<uint8_t> firmware = Bytes(0x7811BE4C, kFirmwareBytes);
    std::string hex;
    uint32_t segment = 0xFFFFFFFF;
    for (size_t at = 0; at < firmware.size(); at += kRecordBytes) {
        const uint32_t address = kFirmwareBase + static_cast<uint32_t>(at);
        if (address >> 16 != segment) {
            segment = address >> 16;
            const uint8_t upper[2] = {static_cast<uint8_t>(segment >> 8), static_cast<uint8_t>(segment)};
            hex += Record(0x04, 0, upper, 2);
        }
        hex += Record(0x00, static_cast<uint16_t>(address), firmware.data() + at, kRecordBytes);
    }
    const uint8_t entry[4] = {kEntryPoint >> 24, (kEntryPoint >> 16) & 0xFF, (kEntryPoint >> 8) & 0xFF, kEntryPoint & 0xFF};
    hex += Record(0x05, 0, entry, 4) + Record(0x01, 0, nullptr, 0) + "0105\r\n";
    struct Data {
        const char* name;
        size_t bytes;
    };
    const Data data[] = {{"flagdata.bin", 1024 * 1024}, {"audioHead.bin", 512 * 1024}, {"picHead.bin", 256 * 1024},
                         {"rdfwd.bin", 64 * 1024 + 300}};
    bool ok = WriteFile(dir + "/AC7811_project.hex", hex) && WriteFile(dir + "/ver.txt", "AC7811\n0105\n0300\n1a2c\n");
    uint32_t seed = 1;
    for (const Data& file : data) {
        const std::vector<uint8_t> bytes = Bytes(0xDA7A0000 + seed++, file.bytes);
        ok = ok && WriteFile(dir + "/" + file.name, std::string(bytes.begin(), bytes.end()));
    }
    if (!ok) std::fprintf(stderr, "iap-bench-run: cannot write the set into %s\n", dir.c_str());
    return ok ? 0 : 1;
}

int RunAndReport(const std::string& reportPath, char** argv) {
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid < 0) {
        std::perror("iap-bench-run: fork");
        return 1;
    }
    if (pid == 0) {
        execv(argv[0], argv);
        std::perror("iap-bench-run: exec");
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    while (wait4(pid, &status, 0, &usage) < 0) {
        if (errno != EINTR) {
            std::perror("iap-bench-run: wait4");
            return 1;
        }
    }
    const auto wall = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start);
    auto micros = [](const timeval& t) { return static_cast<long long>(t.tv_sec) * 1000000 + t.tv_usec; };
    std::ofstream report(reportPath);
    report << "status " << (WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status)) << "\n"
           << "cpu_us " << micros(usage.ru_utime) + micros(usage.ru_stime) << "\n"
           << "max_rss_kib " << usage.ru_maxrss << "\n"
           << "wall_us " << wall.count() << "\n";
    return report ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "--make-set") == 0) return MakeSet(argv[2]);
    if (argc >= 4 && std::strcmp(argv[1], "--report") == 0) return RunAndReport(argv[2], argv + 3);
    std::fprintf(stderr, "usage: iap-bench-run --make-set DIR | --report FILE PROGRAM [ARGS...]\n");
    return 64;
}
