// The --out folder: what the simulated device received, in files a test compares with the
// source update files.
//
//   frames.log            one line per frame: "> " received, "< " sent, hex bytes; frames longer
//                         than 32 bytes show their first 16 bytes then " ... (N bytes)".
//                         "! " lines are refused incoming bytes, "# " lines notes and faults.
//   firmware.bin          firmware as memory, lowest to highest address written, gaps 0xFF
//   firmware.base         "0x%08X\n", the lowest address (0x00000000 when nothing was written)
//   firmware_version.txt  "%04X\n", the version the firmware start command carried
//   flagdata.bin, audioHead.bin, picHead.bin, rdfwd.bin
//                         the packet payloads of each image's last transfer, concatenated
//   radar_size.txt        "%u\n", the size the radar start command announced
//   settings.bin          the last 73-byte block written with 0x4A
//   summary.txt           "name value" lines: frame and error counts, "ended NAME 0|1" per image
//                         seen (1: its end command closed it, for the firmware an accepted one),
//                         "seed N" and "seed_faults OPTIONS" with --seed, "turnaround_us COUNT
//                         MEDIAN P99 MEAN" (answer written to the next byte read, see NoteTurnaround),
//                         "answer_late_us COUNT MEDIAN P99 MEAN" (paced answers, see NoteAnswerLate),
//                         "line NAME IN OUT MICROSECONDS" per image (see NoteImageLine),
//                         then "rx 0xCC N" and "tx 0xCC N" per command code
//
// Image files are rewritten when their image ends and on exit, each through a temporary file and
// a rename, so a reader never sees half a file. Files of images that never came are not written;
// outputs of an earlier run in the same folder are removed at Open. Single-threaded use.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "sim/DeviceModel.h"
#include "sim/FrameReader.h"

class CRecorder {
public:
    CRecorder() = default;
    CRecorder(const CRecorder&) = delete;
    CRecorder& operator=(const CRecorder&) = delete;

    // Creates the folder if needed and starts frames.log. Without a successful Open every other
    // call records nothing. Returns 1, or 0 with a reason.
    int Open(const std::string& outDir, std::string& error);

    void LogReceived(const std::vector<uint8_t>& frame);
    void LogSent(const std::vector<uint8_t>& frame);  // also counts it for the summary
    void LogRejected(RejectReason reason, const std::vector<uint8_t>& bytes);
    void LogNote(const std::string& text);
    // --seed N and the options it stands for, for the summary and the frame log.
    void NoteSeed(uint32_t seed, const std::string& faults);
    // One gap between an answer's last byte written and the tool's next byte read.
    void NoteTurnaround(std::chrono::microseconds gap);
    // How much later than its paced time an answer was written: the simulator's own wake-up delay,
    // which the line's figures count as well.
    void NoteAnswerLate(std::chrono::microseconds late);
    // An image's bytes from the tool and to it between its ready answer and its end, and how long
    // that took on this end of the line.
    void NoteImageLine(SimImage image, uint64_t bytesIn, uint64_t bytesOut, std::chrono::microseconds span);

    void WriteImage(SimImage image, const CDeviceModel& model);
    void WriteSettings(const CDeviceModel& model);
    void WriteSummary(const CDeviceModel& model, const CFrameReader& reader);
    // Everything the device holds, then the summary.
    void WriteAll(const CDeviceModel& model, const CFrameReader& reader);

    unsigned long FramesSent() const { return framesSent_; }

private:
    struct FileCloser {
        void operator()(std::FILE* f) const { std::fclose(f); }
    };
    void LogLine(const char* prefix, const std::vector<uint8_t>& bytes, const std::string& suffix);
    int WriteWhole(const std::string& name, const void* data, size_t size);
    int WriteText(const std::string& name, const std::string& text);

    std::string dir_;
    std::string seedLines_;
    std::unique_ptr<std::FILE, FileCloser> log_;
    std::map<uint8_t, unsigned long> sentCounts_;
    unsigned long framesSent_ = 0;
    std::vector<int64_t> turnaroundUs_;
    std::vector<int64_t> answerLateUs_;
    std::map<SimImage, std::string> imageLines_;
};

// "aa bb cc" for short byte strings; the first 16 bytes then " ... (N bytes)" for long ones.
std::string HexLine(const std::vector<uint8_t>& bytes);
