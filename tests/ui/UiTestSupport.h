// Helpers for the window tests: the test program's main (a QApplication on Qt's offscreen platform
// unless the caller chose another), a recording engine in place of the real one, and control access
// by name.
#pragma once

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>

#include <atomic>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "support/TestSupport.h"
#include "ui/ControlUI.h"
#include "ui/EngineLink.h"
#include "ui/PaintManagerUI.h"
#include "ui/SettingsEditBuffer.h"
#include "ui/WindowImplBase.h"

// Every window test program starts this way: the skins come from the source tree.
#define IAP_UI_TEST_MAIN()                                                         \
    int main(int argc, char** argv) {                                              \
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))                        \
            qputenv("QT_QPA_PLATFORM", "offscreen");                               \
        /* The window remembers the user's folder; a test must not touch the user's settings. */ \
        qputenv("XDG_CONFIG_HOME", (QDir::tempPath() + "/iap-ui-test-config-" +    \
                                    QString::number(QCoreApplication::applicationPid())).toUtf8()); \
        QApplication app(argc, argv);                                              \
        CPaintManagerUI::SetInstancePath(QCoreApplication::applicationDirPath().toStdWString()); \
        CPaintManagerUI::SetResourcePath(L"" IAP_SOURCE_DIR "/Skin");              \
        ::testing::InitGoogleTest(&argc, argv);                                    \
        return RUN_ALL_TESTS();                                                    \
    }

namespace uitest {

// Records what the windows ask of the engine. The settings copies and version reads may come from the
// UI thread while a test thread looks, so the counters that cross threads are atomic.
class FakeEngine final : public CEngineLink {
public:
    void SetNotifyWindow(NotifyHandle w) override {
        window = w;
        calls.push_back("SetNotifyWindow");
    }
    int StartEngine(uint32_t limit, uint32_t rate, const std::wstring& toolFolder) override {
        portLimit = limit;
        baudRate = rate;
        folder = toolFolder;
        calls.push_back("StartEngine");
        return 1;
    }
    void StopEngine() override { calls.push_back("StopEngine"); }
    void StartUpdateRun() override {
        ++runs;
        calls.push_back("StartUpdateRun");
    }
    void SetToolFolder(const std::wstring& toolFolder) override {
        folder = toolFolder;
        calls.push_back("SetToolFolder");
    }
    int ProjectPacketCount() override { return packets; }
    int EDogPacketCount() override { return packets; }
    int MusicPacketCount() override { return packets; }
    int PicPacketCount() override { return packets; }
    int RadarPacketCount() override { return packets; }
    void GetSettingsBlock(uint8_t* dst) override { std::copy(block.begin(), block.end(), dst); }
    void GetSettingsInfoBlock(uint8_t* dst) override { std::copy(infoBlock.begin(), infoBlock.end(), dst); }
    void SetSettingsBlock(const uint8_t* src) override {
        std::copy(src, src + SETTINGS_BLOCK_SIZE, block.begin());
        calls.push_back("SetSettingsBlock");
    }
    void SetSettingsPending(int flag) override {
        pending = flag;
        calls.push_back("SetSettingsPending");
    }
    std::wstring DeviceFirmwareVersion() override {
        ++versionReads;
        return firmware;
    }
    std::wstring DeviceDataVersion() override { return data; }
    std::wstring DeviceRadarVersion() override { return radar; }
    std::wstring FailureReason() override { return failureReason; }
    ScanReport LastScanReport() override { return scanReport; }
    int RefreshDeviceInfo() override {
        calls.push_back("RefreshDeviceInfo");
        return 1;
    }
    void SearchAgain() override { calls.push_back("SearchAgain"); }

    NotifyHandle window = nullptr;
    uint32_t portLimit = 0;
    uint32_t baudRate = 0;
    std::wstring folder;
    std::vector<std::string> calls;
    int runs = 0;
    int pending = 0;
    SettingsBlock block{};
    SettingsBlock infoBlock{};
    std::wstring firmware = L"0012";
    std::wstring data = L"0256";
    std::wstring radar = L"1a2b";
    std::atomic<int> versionReads{0};
    std::wstring failureReason;
    ScanReport scanReport;
    int packets = 0;  // every image's packet count
};

// Puts a FakeEngine in place of the process's engine and starts every test from a zero edit buffer.
class WindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetEngineLink(&engine_);
        SettingsEditBuffer = {};
    }
    void TearDown() override { SetEngineLink(nullptr); }

    FakeEngine engine_;
};

inline CControlUI Control(const WindowImplBase& window, const wchar_t* name) {
    return window.PaintManager().FindControl(name);
}

inline std::wstring Text(const WindowImplBase& window, const wchar_t* name) { return Control(window, name).GetText(); }

// Presses a control as the user does (nothing happens when it is disabled). False when it is missing.
inline bool Click(const WindowImplBase& window, const wchar_t* name) {
    auto* button = qobject_cast<QAbstractButton*>(Control(window, name).Widget());
    if (button == nullptr) return false;
    button->click();
    return true;
}

// Chooses a combo box item as the user does.
inline bool Choose(const WindowImplBase& window, const wchar_t* name, int index) {
    auto* combo = qobject_cast<QComboBox*>(Control(window, name).Widget());
    if (combo == nullptr || index < 0 || index >= combo->count()) return false;
    combo->setCurrentIndex(index);
    return true;
}

// Runs the UI thread's event loop until `condition` holds or timeoutMs passed.
inline bool PumpUntil(const std::function<bool()>& condition, int timeoutMs) {
    return testsupport::WaitUntil(
        [&] {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            return condition();
        },
        timeoutMs);
}

constexpr uint32_t kVisibleWindow = UI_WS_VISIBLE | UI_WS_OVERLAPPEDWINDOW;

}  // namespace uitest
