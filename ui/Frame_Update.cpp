#include "ui/Frame_Update.h"

#include <algorithm>
#include <memory>
#include <string_view>

#include "engine/UpdateStep.h"
#include "transport/Serial.h"
#include "transport/TickCount.h"
#include "ui/DisplayText.h"
#include "ui/EngineLink.h"
#include "ui/Frame_Set.h"
#include "ui/SettingsEditBuffer.h"
#include "ui/StepTexts.h"
#include "ui/VersionStrings.h"

namespace {

constexpr std::wstring_view kClientClasses[] = {L"ButtonUI", L"OptionUI", L"SliderUI",
                                                L"EditUI", L"RichEditUI", L"ComboUI"};

constexpr int kIconResource = 108;
constexpr int kProgressFull = 100;

}  // namespace

CFrame_Update::CFrame_Update(std::wstring skinFile, std::wstring toolFolder)
    : skinFile_(std::move(skinFile)), toolFolder_(std::move(toolFolder)), tick_(&GetTickCountMs) {}

CFrame_Update::~CFrame_Update() = default;

void CFrame_Update::SetTickSource(TickSource source) { tick_ = source ? std::move(source) : TickSource(&GetTickCountMs); }

void CFrame_Update::SetSettingsWindowHook(SettingsWindowHook hook) { settingsHook_ = std::move(hook); }

int CFrame_Update::HitTest(const HitTestInput& input) { return NcHitTest(input, kClientClasses); }

int CFrame_Update::OnNcHitTest(UiPoint screenPoint) {
    return HitTest(HitTestInputAt(screenPoint));
}

QWidget* CFrame_Update::CreateControl(const std::wstring&) { return nullptr; }

void CFrame_Update::SetControlText(const wchar_t* name, const std::wstring& text) {
    if (CControlUI control = PaintManager().FindControl(name)) control.SetText(text);
}

void CFrame_Update::SetControlEnabled(const wchar_t* name, bool enabled) {
    if (CControlUI control = PaintManager().FindControl(name)) control.SetEnabled(enabled);
}

void CFrame_Update::SetProgress(int value) {
    if (CControlUI bar = PaintManager().FindControl(L"prog_step")) bar.SetValue(value);
}

void CFrame_Update::InitWindow() {
    // ver.txt lines keep their line end; a one-line label shows the value without it.
    SetControlText(L"lbl_device_type", TrimLineEnd(VerDeviceType));
    SetControlText(L"lbl_device_firmwareversion", L"");
    SetControlText(L"lbl_device_dataversion", L"");
    SetControlText(L"lbl_device_radarversion", L"");
    SetControlText(L"lbl_file_firmwareversion", TrimLineEnd(VerFileFirmware));
    SetControlText(L"lbl_file_dataversion", TrimLineEnd(VerFileData));
    SetControlText(L"lbl_file_radarversion", TrimLineEnd(VerFileRadar));
    Engine().SetNotifyWindow(GetHWND());
    Engine().StartEngine(SERIAL_PORT_LIMIT, SERIAL_TRANSFER_BAUD, toolFolder_.empty() ? CPaintManagerUI::GetInstancePath() : toolFolder_);
    SetIcon(kIconResource);
    CenterWindow();
}

intptr_t CFrame_Update::HandleCustomMessage(uint32_t message, NotifyWParam wParam, NotifyLParam lParam, bool& handled) {
    handled = false;
    switch (message) {
    case WM_ENGINE_READY:
        SetControlText(L"lbl_file_firmwareversion", TrimLineEnd(VerFileFirmware));
        SetControlText(L"lbl_file_dataversion", TrimLineEnd(VerFileData));
        SetControlText(L"lbl_file_radarversion", TrimLineEnd(VerFileRadar));
        // The device has just told its versions; show them beside the files' versions.
        SetControlText(L"lbl_device_firmwareversion", Engine().DeviceFirmwareVersion());
        SetControlText(L"lbl_device_dataversion", Engine().DeviceDataVersion());
        SetControlText(L"lbl_device_radarversion", Engine().DeviceRadarVersion());
        SetControlEnabled(L"btn_update", true);
        break;
    case WM_ENGINE_SETTINGS:
        // A settings answer during a run must neither replace the user's edits nor open the settings
        // window in the middle of the run.
        if (runGoing_) break;
        SetControlEnabled(L"btn_settings", true);
        Engine().GetSettingsBlock(SettingsEditBuffer.data());
        break;
    case WM_ENGINE_STEP_BEGIN: OnStepBegin(wParam, lParam); break;
    case WM_ENGINE_PACKET: OnPacket(wParam, lParam); break;
    case WM_ENGINE_STEP_END: OnStepEnd(wParam, lParam); break;
    case UI_WM_TIMER:
        if (wParam == static_cast<NotifyWParam>(USE_TIME_TIMER)) OnUseTimeTimer();
        break;
    default: break;
    }
    return 0;
}

void CFrame_Update::OnStepBegin(NotifyWParam step, NotifyLParam total) {
    currentStep_ = static_cast<int>(step);
    stepTotal_ = static_cast<uint32_t>(total);
    stepSent_ = 0;
    SetProgress(step == StepFinished ? kProgressFull : 0);
    SetControlText(L"lbl_progress", L"");
    SetControlText(L"lbl_status", StepText(currentStep_));
}

void CFrame_Update::OnPacket(NotifyWParam total, NotifyLParam sent) {
    stepTotal_ = static_cast<uint32_t>(total);
    stepSent_ = static_cast<uint32_t>(sent);
    // The engine never reports a step without packets; should it, the step shows no progress rather
    // than dividing by zero.
    const unsigned percent = StepPercent(stepTotal_, stepSent_);
    SetProgress(static_cast<int>(BarValue(percent)));
    SetControlText(L"lbl_progress", PercentText(percent));
    SetControlText(L"lbl_status", StepText(currentStep_));
}

void CFrame_Update::OnStepEnd(NotifyWParam step, NotifyLParam result) {
    const std::wstring text = StepEndText(static_cast<int>(step), static_cast<int>(result));
    if (step == StepFinished) {
        runGoing_ = false;
        currentStep_ = StepFinished;
        SetControlEnabled(L"btn_update", true);
        SetControlEnabled(L"btn_settings", true);
        SetControlEnabled(L"btn_cancel", true);
    }
    SetProgress(kProgressFull);
    SetControlText(L"lbl_progress", L"");
    SetControlText(L"lbl_status", text);
    if (step == StepFinished) KillTimer(USE_TIME_TIMER);
}

void CFrame_Update::OnUseTimeTimer() {
    SetControlText(L"lbl_usetime", ElapsedText(tick_() - startTick_));
}

void CFrame_Update::Notify(TNotifyUI& msg) {
    if (msg.type == L"click") OnClick(msg);
    WindowImplBase::Notify(msg);
}

void CFrame_Update::OnClick(TNotifyUI& msg) {
    const std::wstring name = msg.sender.GetName();
    if (name == L"btn_settings") {
        OpenSettings();
    } else if (name == L"btn_cancel") {
        Close(1);
    } else if (name == L"btn_update") {
        StartUpdate(msg);
    }
}

void CFrame_Update::OpenSettings() {
    ShowWindow(false);
    auto settings = std::make_unique<CFrame_Set>(L"Frame_Set.xml");
    if (settings->Create(nullptr, L"IAP Tool", UI_WS_VISIBLE | UI_WS_OVERLAPPEDWINDOW, UI_WS_EX_WINDOWEDGE) != 0) {
        if (settingsHook_) settingsHook_(*settings);
        settings->ShowModal();
    }
    ShowWindow(true);
}

void CFrame_Update::StartUpdate(TNotifyUI& msg) {
    msg.sender.SetEnabled(false);
    SetControlEnabled(L"btn_settings", false);
    SetControlEnabled(L"btn_cancel", false);

    runGoing_ = true;
    currentStep_ = 0;
    startTick_ = tick_();
    SetTimer(USE_TIME_TIMER, USE_TIME_PERIOD_MS);
    stepTotal_ = 0;
    stepSent_ = 0;

    SettingsBlock device{};
    Engine().GetSettingsBlock(device.data());
    const bool edited = SettingsEditBuffer != device;
    const bool anySet = std::any_of(SettingsEditBuffer.begin(), SettingsEditBuffer.end(), [](uint8_t b) { return b != 0; });
    // An all-zero buffer means the device never reported its settings: never write that.
    if (edited && anySet) {
        Engine().SetSettingsPending(1);
        Engine().SetSettingsBlock(SettingsEditBuffer.data());
    }

    SetControlText(L"lbl_status", L"Старт обновления...");
    SetProgress(0);
    Engine().StartUpdateRun();
}
