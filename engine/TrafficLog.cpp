#include "engine/TrafficLog.h"

#include <cstdio>
#include <ctime>
#include <mutex>
#include <string>

namespace {

constexpr bool kTrafficLogEnabled = IAP_TRAFFIC_LOG != 0;

std::string Timestamp() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
#if defined(_WIN32)
    localtime_s(&local, &now);
#else
    localtime_r(&now, &local);
#endif
    char text[64] = {};
    std::strftime(text, sizeof text, "%Y-%m-%d-%H:%M:%S :", &local);
    return text;
}

std::string HexBytes(const uint8_t* bytes, int length) {
    std::string text;
    text.reserve(static_cast<size_t>(length) * 3 + 2);
    char piece[8];
    for (int i = 0; i < length; ++i) {
        std::snprintf(piece, sizeof piece, " %02x", bytes[i]);
        text += piece;
    }
    return text;
}

void Append(const char* fileName, const std::string& entry) {
    static std::mutex fileMutex;
    std::lock_guard<std::mutex> lock(fileMutex);
    std::FILE* file = std::fopen(fileName, "a+");
    if (file == nullptr) return;
    std::fwrite(entry.data(), 1, entry.size(), file);
    std::fclose(file);
}

}  // namespace

void TrafficLogSent(const uint8_t* bytes, int length) {
    if (!kTrafficLogEnabled || bytes == nullptr || length <= 0) return;
    Append("send.txt", Timestamp() + HexBytes(bytes, length) + "\r\n");
}

void TrafficLogReceivedChunk(const uint8_t* bytes, int length) {
    if (!kTrafficLogEnabled || bytes == nullptr || length <= 0) return;
    Append("recv.txt", Timestamp() + HexBytes(bytes, length) + "\r\n");
}

void TrafficLogReceivedFrame(const uint8_t* bytes, int length) {
    if (!kTrafficLogEnabled || bytes == nullptr || length <= 0) return;
    Append("recv_packet.txt", Timestamp() + "\r\n" + HexBytes(bytes, length) + "\r\n");
}
