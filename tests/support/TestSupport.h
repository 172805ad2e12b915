// Helpers shared by the tests: pseudo-terminal pairs, temporary folders, trace capture, files.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace testsupport {

// A pseudo-terminal pair from openpty (POSIX only). The master plays the far end of the line; the
// slave path is what the code under test opens. Both ends close on destruction.
class PtyPair {
public:
    PtyPair();
    ~PtyPair();
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    const std::string& SlavePath() const { return slavePath_; }
    int MasterFd() const { return master_; }

    // Writes all bytes to the master (the code under test reads them on the slave).
    void WriteMaster(const std::vector<uint8_t>& bytes);
    // Reads from the master until `count` bytes arrived or timeoutMs passed; returns what arrived.
    std::vector<uint8_t> ReadMaster(size_t count, int timeoutMs);

private:
    int master_ = -1;
    int slaveKeepAlive_ = -1;  // keeps the slave side existing between opens by the code under test
    std::string slavePath_;
};

// A fresh folder under /tmp (on Windows: the user's temporary folder), removed with its content on
// destruction.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& Path() const { return path_; }
    // Path() + "/" + name.
    std::string File(const std::string& name) const;

private:
    std::string path_;
};

// Paths are UTF-8 strings on every platform (on Windows too, where a narrow path would be read in the
// ANSI code page); Utf8Path makes the std::filesystem path of one.
std::filesystem::path Utf8Path(const std::string& path);
void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes);
void WriteTextFile(const std::string& path, const std::string& text);
std::vector<uint8_t> ReadFile(const std::string& path);

// Captures every Trace line while alive (and restores the default output afterwards).
class TraceCapture {
public:
    TraceCapture();
    ~TraceCapture();
    TraceCapture(const TraceCapture&) = delete;
    TraceCapture& operator=(const TraceCapture&) = delete;
    std::wstring Text() const;
    bool Contains(const std::wstring& piece) const;

private:
    mutable std::mutex mutex_;
    std::wstring text_;
};

// `ms` times the factor in IAP_TEST_TIME_SCALE (default 1; the sanitizer builds set more), for the
// few bounds that are the point of a test or that only stop a hung one.
int ScaledMs(int ms);

// Polls `condition` every few milliseconds until it holds or timeoutMs passed.
bool WaitUntil(const std::function<bool()>& condition, int timeoutMs);

}  // namespace testsupport
