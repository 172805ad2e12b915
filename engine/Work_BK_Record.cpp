// The engine record as other threads read and write it: images, settings blocks, versions, scan.
#include "engine/Work_BK.h"

#include <cstring>

namespace {

// One settings block copied under its lock; a null end copies nothing.
void CopyBlockLocked(std::mutex& mutex, uint8_t* dst, const uint8_t* src) {
    if (dst == nullptr || src == nullptr) return;
    std::lock_guard<std::mutex> lock(mutex);
    std::memcpy(dst, src, SETTINGS_BLOCK_SIZE);
}

// A copy of a record field taken under its lock.
template <class T>
T CopyLocked(std::mutex& mutex, const T& value) {
    std::lock_guard<std::mutex> lock(mutex);
    return value;
}

}  // namespace

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

void CWork_BK::GetSettingsBlock(uint8_t* dst) const { CopyBlockLocked(settingsMutex_, dst, settingsBlock_.data()); }

void CWork_BK::GetSettingsInfoBlock(uint8_t* dst) const {
    CopyBlockLocked(settingsMutex_, dst, settingsInfoBlock_.data());
}

void CWork_BK::SetSettingsBlock(const uint8_t* src) { CopyBlockLocked(settingsMutex_, settingsToWrite_.data(), src); }

void CWork_BK::GetSettingsToWrite(uint8_t* dst) const { CopyBlockLocked(settingsMutex_, dst, settingsToWrite_.data()); }

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
    CopyBlockLocked(settingsMutex_, settingsInfoBlock_.data(), src);
}

void CWork_BK::SetSettingsPending(int flag) { settingsPending_.store(flag); }

std::wstring CWork_BK::DeviceFirmwareVersion() const { return CopyLocked(recordMutex_, deviceFirmwareVersion_); }

std::wstring CWork_BK::DeviceDataVersion() const { return CopyLocked(recordMutex_, deviceDataVersion_); }

std::wstring CWork_BK::DeviceRadarVersion() const { return CopyLocked(recordMutex_, deviceRadarVersion_); }

void CWork_BK::SetDeviceVersions(const std::wstring& firmware, const std::wstring& data,
                                 const std::wstring& radar) {
    std::lock_guard<std::mutex> lock(recordMutex_);
    deviceFirmwareVersion_ = firmware;
    deviceDataVersion_ = data;
    deviceRadarVersion_ = radar;
}

ScanReport CWork_BK::LastScanReport() const { return CopyLocked(recordMutex_, scanReport_); }

std::wstring CWork_BK::ToolFolder() const { return CopyLocked(recordMutex_, toolFolder_); }

void CWork_BK::SetToolFolder(const std::wstring& folder) {
    std::lock_guard<std::mutex> lock(recordMutex_);
    toolFolder_ = folder;
}
