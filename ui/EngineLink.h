// CEngineLink: the engine operations the windows call. The process's link forwards to the one
// CWork_BK; tests put a recording engine in its place. Calls come from the UI thread only.
#pragma once

#include <cstdint>
#include <string>

#include <utility>
#include <vector>

#include "engine/NotifyWindow.h"
#include "engine/ScanReport.h"

class CEngineLink {
public:
    virtual ~CEngineLink() = default;
    virtual void SetNotifyWindow(NotifyHandle window) = 0;
    virtual int StartEngine(uint32_t portLimit, uint32_t baudRate, const std::wstring& toolFolder) = 0;
    virtual void StopEngine() = 0;
    virtual void StartUpdateRun() = 0;
    // The folder the next run reads the update files from (ending in a separator).
    virtual void SetToolFolder(const std::wstring& folder) = 0;
    virtual int ProjectPacketCount() = 0;
    virtual int EDogPacketCount() = 0;
    virtual int MusicPacketCount() = 0;
    virtual int PicPacketCount() = 0;
    virtual int RadarPacketCount() = 0;
    // 73 bytes each.
    virtual void GetSettingsBlock(uint8_t* dst) = 0;
    virtual void GetSettingsInfoBlock(uint8_t* dst) = 0;
    virtual void SetSettingsBlock(const uint8_t* src) = 0;
    virtual void SetSettingsPending(int flag) = 0;
    virtual std::wstring DeviceFirmwareVersion() = 0;
    virtual std::wstring DeviceDataVersion() = 0;
    virtual std::wstring DeviceRadarVersion() = 0;
    // Why the last run failed (Russian); empty when it did not.
    virtual std::wstring FailureReason() = 0;
    // The ports the last scan tried, each with why it failed.
    virtual ScanReport LastScanReport() = 0;
    // Asks the device for its versions again; WM_ENGINE_READY follows. 0 when no device is connected.
    virtual int RefreshDeviceInfo() = 0;
    // Probes every port again, those that did not answer before too; the connect state follows.
    virtual void SearchAgain() = 0;
};

// The link the windows use: the one set by SetEngineLink, else the process's engine.
CEngineLink& Engine();
// The link to the process's engine (EngineLink_Work_BK.cpp).
CEngineLink& ProcessEngineLink();
// Replaces the link (null restores the process's engine). The caller keeps ownership.
void SetEngineLink(CEngineLink* link);
