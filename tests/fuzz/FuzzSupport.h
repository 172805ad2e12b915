// What the fuzz targets share: a check that stops the run (libFuzzer keeps the input that failed),
// a scratch file for the readers that take a path, the readers as the engine makes them, and the
// trace switched off.
#pragma once

#if defined(_WIN32)
#include <process.h>
#else
#include <unistd.h>
#endif

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "base/Text.h"
#include "base/Trace.h"
#include "files/Packet_Hex.h"
#include "support/FilesTestSupport.h"

#define FUZZ_CHECK(condition) \
    ((condition) ? (void)0 : fuzzsupport::Fail(#condition, __FILE__, __LINE__))

// The start of a target that needs nothing before its first input but a quiet trace.
#define FUZZ_INITIALIZE_SILENT_TRACE()                      \
    extern "C" int LLVMFuzzerInitialize(int*, char***) { \
        fuzzsupport::SilenceTrace();                     \
        return 0;                                        \
    }

namespace fuzzsupport {

[[noreturn]] inline void Fail(const char* what, const char* file, int line) {
    std::fprintf(stderr, "%s:%d: check failed: %s\n", file, line, what);
    std::abort();
}

// One file per process in TMPDIR (TEMP on Windows; else /tmp), rewritten for every input and removed at exit.
class ScratchFile {
public:
    explicit ScratchFile(const char* name) {
#if defined(_WIN32)
        const char* folder = std::getenv("TEMP");
        const int pid = _getpid();
#else
        const char* folder = std::getenv("TMPDIR");
        const int pid = getpid();
#endif
        path_ = std::string(folder && *folder ? folder : "/tmp") + "/iap-fuzz-" + name + "-" + std::to_string(pid);
        widePath_ = Utf8ToWide(path_);
    }
    ~ScratchFile() { std::remove(path_.c_str()); }
    ScratchFile(const ScratchFile&) = delete;
    ScratchFile& operator=(const ScratchFile&) = delete;

    void Write(const uint8_t* data, size_t size) {
        std::FILE* file = std::fopen(path_.c_str(), "wb");
        FUZZ_CHECK(file != nullptr);
        FUZZ_CHECK(size == 0 || std::fwrite(data, 1, size, file) == size);
        FUZZ_CHECK(std::fclose(file) == 0);
    }
    const std::string& Path() const { return path_; }
    const wchar_t* WidePath() const { return widePath_.c_str(); }

private:
    std::string path_;
    std::wstring widePath_;
};

// Millions of inputs would otherwise fill standard output with trace lines.
inline void SilenceTrace() { SetTraceFile(nullptr); }

// A file reader with the HEX line shapes the engine gives it.
using filestest::MakeReader;

}  // namespace fuzzsupport
