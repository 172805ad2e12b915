// The engine record as other threads read and write it: images, settings blocks, versions, scan.
#include "engine/Work_BK.h"

#include <cstring>

const CImageReader* CWork_BK::Image(int step) const {
    const int index = ImageIndex(ImageByStep(step));
    return index < 0 ? nullptr : &images_[static_cast<size_t>(index)];
}

ImageLoadStatus CWork_BK::ImageStatus(int step) const {
    const CImageReader* image = Image(step);
    return image == nullptr ? ImageLoadStatus{} : image->LoadStatus();
}

int CWork_BK::PacketCount(int step) const {
    const CImageReader* image = Image(step);
    return image == nullptr ? 0 : image->GetPacketCount();
}

void CWork_BK::GetSettingsBlock(uint8_t* dst) const {
    if (dst == nullptr) return;
    std::lock_guard<std::mutex> lock(settingsMutex_);
    std::memcpy(dst, settingsBlock_.data(), SETTINGS_BLOCK_SIZE);
}

void CWork_BK::GetSettingsInfoBlock(uint8_t* dst) const {
    if (dst == nullptr) return;
    std::lock_guard<std::mutex> lock(settingsMutex_);
    std::memcpy(dst, settingsInfoBlock_.data(), SETTINGS_BLOCK_SIZE);
}

void CWork_BK::SetSettingsBlock(const uint8_t* src) {
    if (src == nullptr) return;
    std::lock_guard<std::mutex> lock(settingsMutex_);
    std::memcpy(settingsToWrite_.data(), src, SETTINGS_BLOCK_SIZE);
}

void CWork_BK::GetSettingsToWrite(uint8_t* dst) const {
    if (dst == nullptr) return;
    std::lock_guard<std::mutex> lock(settingsMutex_);
    std::memcpy(dst, settingsToWrite_.data(), SETTINGS_BLOCK_SIZE);
}

void CWork_BK::StoreDeviceSettings(const uint8_t* src) {
    if (src == nullptr) return;
    std::lock_guard<std::mutex> lock(settingsMutex_);
    std::memcpy(settingsBlock_.data(), src, SETTINGS_BLOCK_SIZE);
    deviceSettingsKnown_.store(true);
}

void CWork_BK::SettingsWritten() {
    // Front ends compare their edited block with the device's to decide whether to write it again.
    std::lock_guard<std::mutex> lock(settingsMutex_);
    settingsBlock_ = settingsToWrite_;
}

void CWork_BK::SetSettingsInfoBlock(const uint8_t* src) {
    if (src == nullptr) return;
    std::lock_guard<std::mutex> lock(settingsMutex_);
    std::memcpy(settingsInfoBlock_.data(), src, SETTINGS_BLOCK_SIZE);
}

void CWork_BK::SetSettingsPending(int flag) { settingsPending_.store(flag); }

std::wstring CWork_BK::DeviceFirmwareVersion() const {
    std::lock_guard<std::mutex> lock(recordMutex_);
    return deviceFirmwareVersion_;
}

std::wstring CWork_BK::DeviceDataVersion() const {
    std::lock_guard<std::mutex> lock(recordMutex_);
    return deviceDataVersion_;
}

std::wstring CWork_BK::DeviceRadarVersion() const {
    std::lock_guard<std::mutex> lock(recordMutex_);
    return deviceRadarVersion_;
}

void CWork_BK::SetDeviceVersions(const std::wstring& firmware, const std::wstring& data,
                                 const std::wstring& radar) {
    std::lock_guard<std::mutex> lock(recordMutex_);
    deviceFirmwareVersion_ = firmware;
    deviceDataVersion_ = data;
    deviceRadarVersion_ = radar;
}

std::vector<std::pair<std::string, CSerial::OpenError>> CWork_BK::LastScanReport() const {
    std::lock_guard<std::mutex> lock(recordMutex_);
    return scanReport_;
}

std::wstring CWork_BK::ToolFolder() const {
    std::lock_guard<std::mutex> lock(recordMutex_);
    return toolFolder_;
}

void CWork_BK::SetToolFolder(const std::wstring& folder) {
    std::lock_guard<std::mutex> lock(recordMutex_);
    toolFolder_ = folder;
}
