// CFrame_Set: the settings window. It edits a working copy of the device's 73-byte settings block and
// stores it in SettingsEditBuffer on OK only; the main window hands that buffer to the engine when a
// run starts. UI thread only; the window is created when the user asks for it and deleted when it
// closes, so every opening starts afresh from SettingsEditBuffer.
#pragma once

#include <string>

#include "ui/HitTest.h"
#include "ui/SettingsEditBuffer.h"
#include "ui/WindowImplBase.h"

class CFrame_Set : public WindowImplBase {
public:
    explicit CFrame_Set(std::wstring skinFile);
    ~CFrame_Set() override;

    std::wstring GetWindowClassName() const override { return L"CFrame_Set"; }
    std::wstring GetSkinFile() override { return skinFile_; }
    void InitWindow() override;
    int OnNcHitTest(UiPoint screenPoint) override;
    void Notify(TNotifyUI& msg) override;
    // Builds the skin's "Frame_Set_Client_1" and "Frame_Set_Client_2" elements (any letter case) from
    // the skin files of the same names; any other class gives null.
    QWidget* CreateControl(const std::wstring& className) override;

    // This window's hit test: the caption drags except over buttons, options, sliders, edits, combo
    // boxes and check boxes.
    static int HitTest(const HitTestInput& input);

    // The sub-page the bound combo boxes show (0 to 4), and the working copy, for tests.
    int CurrentSubPage() const { return currentPage_; }
    const SettingsBlock& Working() const { return WorkingSettings; }

private:
    void InitControls();
    void ShowPage(int page);
    void SavePage(int page);
    void LoadCheckBoxes();
    void SaveCheckBoxes();
    void SelectMainTab(int index);
    void SelectSubTab(int index);

    std::wstring skinFile_;
    int currentPage_ = 1;
    SettingsBlock DeviceSettingsCopy{};
    SettingsBlock SettingsInfoCopy{};
    SettingsBlock WorkingSettings{};
};
