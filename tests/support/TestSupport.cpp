#include "support/TestSupport.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

#include "base/Trace.h"

namespace testsupport {

// Made by the platform part (TestSupport_posix.cpp / TestSupport_win32.cpp).
TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(Utf8Path(path_), ignored);
}

std::string TempDir::File(const std::string& name) const { return path_ + "/" + name; }

std::filesystem::path Utf8Path(const std::string& path) {
    return std::filesystem::path(std::u8string(path.begin(), path.end()));
}

void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(Utf8Path(path), std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

void WriteTextFile(const std::string& path, const std::string& text) {
    std::ofstream out(Utf8Path(path), std::ios::binary | std::ios::trunc);
    out << text;
}

std::vector<uint8_t> ReadFile(const std::string& path) {
    std::ifstream in(Utf8Path(path), std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TraceCapture::TraceCapture() {
    SetTraceSink([this](const std::wstring& text) {
        std::lock_guard<std::mutex> lock(mutex_);
        text_ += text;
    });
}

TraceCapture::~TraceCapture() { SetTraceSink(nullptr); }

std::wstring TraceCapture::Text() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return text_;
}

bool TraceCapture::Contains(const std::wstring& piece) const {
    return Text().find(piece) != std::wstring::npos;
}

namespace {

int TimeScale() {
    static const int scale = [] {
        const char* text = std::getenv("IAP_TEST_TIME_SCALE");
        if (text == nullptr || *text == '\0') return 1;
        char* end = nullptr;
        const long value = std::strtol(text, &end, 10);
        if (*end == '\0' && value >= 1 && value <= 100) return static_cast<int>(value);
        // Said once and loudly: a typo here would otherwise pass unnoticed until a slow run fails.
        std::fprintf(stderr, "IAP_TEST_TIME_SCALE=\"%s\" is not a whole number from 1 to 100; 1 is used\n", text);
        return 1;
    }();
    return scale;
}

bool PollUntil(const std::function<bool()>& condition, int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < deadline) {
        if (condition()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return condition();
}

}  // namespace

int ScaledMs(int ms) { return ms * TimeScale(); }

bool WaitUntil(const std::function<bool()>& condition, int timeoutMs) {
    return PollUntil(condition, ScaledMs(timeoutMs));
}

bool NeverWithin(const std::function<bool()>& condition, int ms) { return !PollUntil(condition, ms); }

long long Stopwatch::Ms() const {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start_).count();
}

}  // namespace testsupport
