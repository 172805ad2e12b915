// What both serial-port test files use: frames as the device sends them, and a receiver and an open
// hook that record what the port gave them.
#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "engine/DeviceProbe.h"
#include "protocol/IspCodes.h"
#include "protocol/Packet_ISP.h"
#include "transport/SerialObject.h"
#include "transport/SerialOpenHook.h"

// The handshake every port in these tests is given: the engine's own.
inline const CDeviceProbe kDeviceProbe;

namespace serialtest {

using Bytes = std::vector<uint8_t>;

inline Bytes Frame(uint8_t cmd, const Bytes& payload) {
    CPacket_ISP frame;
    frame.Pack(cmd, payload.data(), static_cast<uint16_t>(payload.size()));
    return Bytes(frame.GetFrameData(), frame.GetFrameData() + frame.GetFrameSize());
}
inline Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}
inline Bytes DeviceInfoAnswer(uint8_t port) {
    return Frame(ANS_DEVICE_INFO, {CMD_DEVICE_INFO, port, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06});
}
inline const Bytes kProbeOfPort1 = {0xAC, 0x06, 0x00, 0x45, 0x01, 0x46};

class RecordingReceiver : public CSerialObject {
public:
    int OnReceive(const uint8_t* data, uint32_t length) override {
        std::lock_guard<std::mutex> lock(mutex_);
        chunks_.emplace_back(data, data + length);
        threads_.push_back(std::this_thread::get_id());
        return 1;
    }
    void OnLineError(const std::string& reason) override {
        std::lock_guard<std::mutex> lock(mutex_);
        lineErrors_.emplace_back(reason, std::this_thread::get_id());
    }
    void OnWriteStalled(uint32_t written, uint32_t length, uint32_t waitedMs) override {
        std::lock_guard<std::mutex> lock(mutex_);
        stalls_.push_back({written, length, waitedMs});
    }
    struct Stall {
        uint32_t written, length, waitedMs;
    };
    std::vector<Stall> Stalls() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return stalls_;
    }
    std::vector<std::pair<std::string, std::thread::id>> LineErrors() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return lineErrors_;
    }
    std::vector<Bytes> Chunks() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return chunks_;
    }
    Bytes Joined() const {
        Bytes all;
        for (const Bytes& chunk : Chunks()) all.insert(all.end(), chunk.begin(), chunk.end());
        return all;
    }
    std::vector<std::thread::id> Threads() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return threads_;
    }

private:
    mutable std::mutex mutex_;
    std::vector<Bytes> chunks_;
    std::vector<std::thread::id> threads_;
    std::vector<std::pair<std::string, std::thread::id>> lineErrors_;
    std::vector<Stall> stalls_;
};

class RecordingHook : public CSerialOpenHook {
public:
    explicit RecordingHook(std::function<void(const std::string&)> record) : record_(std::move(record)) {}
    void RestartCommandSender() override { record_("restart"); }
    void RequestDeviceInfo(uint8_t port) override { record_("info:" + std::to_string(port)); }

private:
    std::function<void(const std::string&)> record_;
};

}  // namespace serialtest
