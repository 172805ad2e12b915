#include "sim/Recorder.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "base/Trace.h"

namespace {

// "NAME COUNT MEDIAN P99 MEAN\n", or nothing without samples.
std::string StatsLine(const char* name, std::vector<int64_t> samples) {
    if (samples.empty()) return std::string();
    std::sort(samples.begin(), samples.end());
    const size_t p99 = std::min(samples.size() - 1, (samples.size() * 99 + 99) / 100 - 1);
    int64_t sum = 0;
    for (int64_t value : samples) sum += value;
    return std::string(name) + " " + std::to_string(samples.size()) + " " + std::to_string(samples[samples.size() / 2]) +
           " " + std::to_string(samples[p99]) + " " + std::to_string(sum / static_cast<int64_t>(samples.size())) + "\n";
}

constexpr size_t kFullLineBytes = 32;
constexpr size_t kShortLineBytes = 16;

const char* ImageFileName(SimImage image) {
    switch (image) {
    case SimImage::Firmware: return "firmware.bin";
    case SimImage::EDog: return "flagdata.bin";
    case SimImage::Music: return "audioHead.bin";
    case SimImage::Pic: return "picHead.bin";
    case SimImage::Radar: return "rdfwd.bin";
    }
    return "unknown.bin";
}

const char* const kOutputNames[] = {"frames.log",    "firmware.bin", "firmware.base",
                                    "firmware_version.txt", "flagdata.bin", "audioHead.bin",
                                    "picHead.bin",   "rdfwd.bin",    "radar_size.txt",
                                    "settings.bin",  "summary.txt"};

}  // namespace

std::string HexLine(const std::vector<uint8_t>& bytes) {
    const size_t shown = bytes.size() > kFullLineBytes ? kShortLineBytes : bytes.size();
    std::string text;
    char piece[4];
    for (size_t i = 0; i < shown; ++i) {
        std::snprintf(piece, sizeof piece, "%02x", bytes[i]);
        if (i) text += ' ';
        text += piece;
    }
    if (shown < bytes.size()) text += " ... (" + std::to_string(bytes.size()) + " bytes)";
    return text;
}

int CRecorder::Open(const std::string& outDir, std::string& error) {
    std::error_code ec;
    std::filesystem::create_directories(outDir, ec);
    if (ec || !std::filesystem::is_directory(outDir, ec)) {
        error = "cannot create output folder '" + outDir + "'";
        return 0;
    }
    // A stale image from an earlier run would pass for one this run received.
    for (const char* name : kOutputNames) std::filesystem::remove(outDir + "/" + name, ec);
    log_.reset(std::fopen((outDir + "/frames.log").c_str(), "w"));
    if (!log_) {
        error = "cannot write '" + outDir + "/frames.log': " + std::strerror(errno);
        return 0;
    }
    dir_ = outDir;
    return 1;
}

void CRecorder::LogLine(const char* prefix, const std::vector<uint8_t>& bytes, const std::string& suffix) {
    if (!log_) return;
    std::fprintf(log_.get(), "%s%s%s\n", prefix, HexLine(bytes).c_str(), suffix.c_str());
    // Flushed per line, so a test can follow the log while the simulator runs.
    std::fflush(log_.get());
}

void CRecorder::LogReceived(const std::vector<uint8_t>& frame) { LogLine("> ", frame, ""); }

void CRecorder::LogSent(const std::vector<uint8_t>& frame) {
    ++framesSent_;
    if (frame.size() > FRAME_OFFSET_CMD) ++sentCounts_[frame[FRAME_OFFSET_CMD]];
    LogLine("< ", frame, "");
}

void CRecorder::LogRejected(RejectReason reason, const std::vector<uint8_t>& bytes) {
    LogLine("! ", bytes, std::string("  (") + RejectReasonText(reason) + ")");
}

void CRecorder::LogNote(const std::string& text) {
    if (!log_) return;
    std::fprintf(log_.get(), "# %s\n", text.c_str());
    std::fflush(log_.get());
}

void CRecorder::NoteSeed(uint32_t seed, const std::string& faults) {
    seedLines_ = "seed " + std::to_string(seed) + "\nseed_faults " + faults + "\n";
    LogNote("seed " + std::to_string(seed) + ": " + (faults.empty() ? "no fault" : faults));
}

int CRecorder::WriteWhole(const std::string& name, const void* data, size_t size) {
    if (dir_.empty()) return 1;
    const std::string finalPath = dir_ + "/" + name;
    const std::string tempPath = dir_ + "/." + name + ".tmp";
    int ok = 0;
    {
        std::unique_ptr<std::FILE, FileCloser> file(std::fopen(tempPath.c_str(), "wb"));
        if (file) {
            ok = (size == 0 || std::fwrite(data, 1, size, file.get()) == size) ? 1 : 0;
            if (std::fflush(file.get()) != 0) ok = 0;
        }
    }
    if (ok && std::rename(tempPath.c_str(), finalPath.c_str()) != 0) ok = 0;
    if (!ok) {
        Trace(L"iap-devsim: cannot write %hs: %hs\n", finalPath.c_str(), std::strerror(errno));
        std::remove(tempPath.c_str());
    }
    return ok;
}

int CRecorder::WriteText(const std::string& name, const std::string& text) {
    return WriteWhole(name, text.data(), text.size());
}

void CRecorder::WriteImage(SimImage image, const CDeviceModel& model) {
    if (dir_.empty() || !model.ImageSeen(image)) return;
    char text[32];
    if (image == SimImage::Firmware) {
        const CFirmwareMemory& memory = model.Firmware();
        WriteWhole(ImageFileName(image), memory.Bytes().data(), memory.Bytes().size());
        std::snprintf(text, sizeof text, "0x%08X\n", static_cast<unsigned>(memory.Base()));
        WriteText("firmware.base", text);
        std::snprintf(text, sizeof text, "%04X\n", static_cast<unsigned>(model.ReceivedFirmwareVersion()));
        WriteText("firmware_version.txt", text);
        return;
    }
    const std::vector<uint8_t>& bytes = model.ImageBytes(image);
    WriteWhole(ImageFileName(image), bytes.data(), bytes.size());
    if (image == SimImage::Radar && model.RadarSize()) {
        std::snprintf(text, sizeof text, "%u\n", static_cast<unsigned>(*model.RadarSize()));
        WriteText("radar_size.txt", text);
    }
}

void CRecorder::WriteSettings(const CDeviceModel& model) {
    const auto block = model.WrittenSettings();
    if (dir_.empty() || !block) return;
    WriteWhole("settings.bin", block->data(), block->size());
}

void CRecorder::WriteSummary(const CDeviceModel& model, const CFrameReader& reader) {
    if (dir_.empty()) return;
    unsigned long received = 0;
    for (const auto& [code, count] : model.ReceivedCounts()) received += count;
    std::string text;
    text += "frames_received " + std::to_string(received) + "\n";
    text += "frames_sent " + std::to_string(framesSent_) + "\n";
    text += "bad_checksum " + std::to_string(reader.BadChecksum()) + "\n";
    text += "bad_length " + std::to_string(reader.BadLength()) + "\n";
    text += "incomplete " + std::to_string(reader.Incomplete()) + "\n";
    text += "skipped_bytes " + std::to_string(reader.SkippedBytes()) + "\n";
    for (SimImage image : {SimImage::Firmware, SimImage::EDog, SimImage::Music, SimImage::Pic, SimImage::Radar}) {
        if (model.ImageSeen(image))
            text += std::string("ended ") + ImageFileName(image) + (model.ImageEnded(image) ? " 1\n" : " 0\n");
    }
    text += seedLines_;
    text += StatsLine("turnaround_us", turnaroundUs_);
    text += StatsLine("answer_late_us", answerLateUs_);
    for (const auto& [image, figures] : imageLines_) text += std::string("line ") + ImageFileName(image) + " " + figures + "\n";
    char line[32];
    for (const auto& [code, count] : model.ReceivedCounts()) {
        std::snprintf(line, sizeof line, "rx 0x%02X %lu\n", code, count);
        text += line;
    }
    for (const auto& [code, count] : sentCounts_) {
        std::snprintf(line, sizeof line, "tx 0x%02X %lu\n", code, count);
        text += line;
    }
    WriteText("summary.txt", text);
}

void CRecorder::NoteAnswerLate(std::chrono::microseconds late) {
    if (!dir_.empty()) answerLateUs_.push_back(late.count());
}

void CRecorder::NoteTurnaround(std::chrono::microseconds gap) {
    if (!dir_.empty()) turnaroundUs_.push_back(gap.count());
}

void CRecorder::NoteImageLine(SimImage image, uint64_t bytesIn, uint64_t bytesOut, std::chrono::microseconds span) {
    if (dir_.empty()) return;
    imageLines_[image] = std::to_string(bytesIn) + " " + std::to_string(bytesOut) + " " + std::to_string(span.count());
}

void CRecorder::WriteAll(const CDeviceModel& model, const CFrameReader& reader) {
    for (SimImage image : {SimImage::Firmware, SimImage::EDog, SimImage::Music, SimImage::Pic, SimImage::Radar})
        WriteImage(image, model);
    WriteSettings(model);
    WriteSummary(model, reader);
}
