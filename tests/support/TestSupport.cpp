#include "support/TestSupport.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

#include "engine/frame/Trace.h"

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

int ScaledMs(int ms) {
    static const double factor = [] {
        const char* text = std::getenv("IAP_TEST_TIME_SCALE");
        const double value = text ? std::atof(text) : 1.0;
        return value > 0 ? value : 1.0;
    }();
    return static_cast<int>(ms * factor);
}

bool WaitUntil(const std::function<bool()>& condition, int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < deadline) {
        if (condition()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return condition();
}

}  // namespace testsupport
