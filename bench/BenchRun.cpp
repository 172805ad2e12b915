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

#include "sim/Samples.h"

namespace {

// A realistic update: firmware 256 KiB in 16-byte records over four 64 KiB segments, camera data
// 1 MiB, audio 512 KiB, pictures 256 KiB, radar 64 KiB and a 300-byte tail.
int MakeSet(const std::string& dir) {
    const SampleSetPlan plan = {0x7811BE4C,
                                0x08000000,
                                256 * 1024,
                                0x08000101,
                                {
                                    {"flagdata.bin", 0xDA7A0001, 1024 * 1024},
                                    {"audioHead.bin", 0xDA7A0002, 512 * 1024},
                                    {"picHead.bin", 0xDA7A0003, 256 * 1024},
                                    {"rdfwd.bin", 0xDA7A0004, 64 * 1024 + 300},
                                }};
    std::string error;
    if (WriteSampleSet(dir, plan, error)) return 0;
    std::fprintf(stderr, "iap-bench-run: cannot write the set into %s\n", dir.c_str());
    return 1;
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
