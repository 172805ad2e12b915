#include "ui/EngineLink.h"

#include "engine/Work_BK.h"

namespace {

// Forwards to the static engine object. The engine exists from before main until process exit, so
// Instance() is never null while windows run.
class CWorkBKLink final : public CEngineLink {
public:
    void SetNotifyWindow(NotifyHandle window) override { Work().SetNotifyWindow(window); }
    int StartEngine(uint32_t portLimit, uint32_t baudRate, const std::wstring& toolFolder) override {
        return Work().StartEngine(portLimit, baudRate, toolFolder);
    }
    void StopEngine() override { Work().StopEngine(); }
    void StartUpdateRun() override { Work().StartUpdateRun(); }
    void SetToolFolder(const std::wstring& folder) override { Work().SetToolFolder(folder); }
    int ProjectPacketCount() override { return Work().ProjectPacketCount(); }
    int EDogPacketCount() override { return Work().EDogPacketCount(); }
    int MusicPacketCount() override { return Work().MusicPacketCount(); }
    int PicPacketCount() override { return Work().PicPacketCount(); }
    int RadarPacketCount() override { return Work().RadarPacketCount(); }
    void GetSettingsBlock(uint8_t* dst) override { Work().GetSettingsBlock(dst); }
    void GetSettingsInfoBlock(uint8_t* dst) override { Work().GetSettingsInfoBlock(dst); }
    void SetSettingsBlock(const uint8_t* src) override { Work().SetSettingsBlock(src); }
    void SetSettingsPending(int flag) override { Work().SetSettingsPending(flag); }
    std::wstring DeviceFirmwareVersion() override { return Work().DeviceFirmwareVersion(); }
    std::wstring DeviceDataVersion() override { return Work().DeviceDataVersion(); }
    std::wstring DeviceRadarVersion() override { return Work().DeviceRadarVersion(); }
    std::wstring FailureReason() override { return Work().FailureReason(); }
    ScanReport LastScanReport() override { return Work().LastScanReport(); }
    int RefreshDeviceInfo() override { return Work().RefreshDeviceInfo(); }
    void SearchAgain() override { Work().SearchAgain(); }

private:
    static CWork_BK& Work() { return *CWork_BK::Instance(); }
};

}  // namespace

CEngineLink& ProcessEngineLink() {
    static CWorkBKLink link;
    return link;
}
