#include "ui/Frame_Update.h"

#include <QAbstractButton>
#include <QMessageBox>
#include <QPushButton>

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
    case WM_ENGINE_READY: OnReady(); break;
    case WM_ENGINE_CONNECT: OnConnect(wParam); break;
    case WM_ENGINE_WAIT: OnWait(wParam, lParam); break;
    case WM_ENGINE_SETTINGS:
        // A refused answer (a block of the wrong size) changed nothing: there is no block to take.
        if (wParam != 0) break;
        // A settings answer during a run must neither replace the user's edits nor open the settings
        // window in the middle of the run.
        // One that comes in a run with no settings read before is kept for the run's end.
        if (runGoing_) {
            if (!settingsKnown_) settingsDuringRun_ = true;
            break;
        }
        settingsKnown_ = true;
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

std::wstring CFrame_Update::Folder() const {
    return toolFolder_.empty() ? CPaintManagerUI::GetInstancePath() : toolFolder_;
}

bool CFrame_Update::NoImages() {
    CEngineLink& engine = Engine();
    return engine.ProjectPacketCount() == 0 && engine.EDogPacketCount() == 0 && engine.MusicPacketCount() == 0 &&
           engine.PicPacketCount() == 0 && engine.RadarPacketCount() == 0;
}

void CFrame_Update::OnReady() {
    connected_ = true;
    SetControlText(L"lbl_file_firmwareversion", TrimLineEnd(VerFileFirmware));
    SetControlText(L"lbl_file_dataversion", TrimLineEnd(VerFileData));
    SetControlText(L"lbl_file_radarversion", TrimLineEnd(VerFileRadar));
    // The device has just told its versions; show them beside the files' versions.
    SetControlText(L"lbl_device_firmwareversion", Engine().DeviceFirmwareVersion());
    SetControlText(L"lbl_device_dataversion", Engine().DeviceDataVersion());
    SetControlText(L"lbl_device_radarversion", Engine().DeviceRadarVersion());
    if (runGoing_) return;
    SetControlEnabled(L"btn_update", true);
    // The answer to the question asked after a run refreshes the versions; the run's end stays shown.
    if (refreshing_) {
        refreshing_ = false;
        return;
    }
    SetControlText(L"lbl_status", NoImages() ? L"Устройство подключено. " + NoUpdateFilesText(Folder())
                                             : std::wstring(L"Устройство подключено."));
}

void CFrame_Update::OnConnect(NotifyWParam state) {
    if (state == static_cast<NotifyWParam>(ConnectState::LineLost)) {
        connected_ = false;
        settingsKnown_ = false;
        refreshing_ = false;
        // A run that was going reports its own end, with the reason; only an idle window says it here.
        if (runGoing_) return;
        SetControlEnabled(L"btn_update", false);
        SetControlEnabled(L"btn_settings", false);
        SetControlText(L"lbl_status", L"Связь с устройством потеряна. Подключите устройство, поиск продолжается.");
    } else if (state == static_cast<NotifyWParam>(ConnectState::Restarting)) {
        // The run goes on once the device is back; the versions it then reports are shown.
        if (runGoing_) SetControlText(L"lbl_status", RestartSearchText());
    } else if (state == static_cast<NotifyWParam>(ConnectState::NoDevice)) {
        if (runGoing_ || connected_) return;
        SetControlText(L"lbl_status", NoDeviceStatusText(Engine().LastScanReport()));
    }
}

void CFrame_Update::OnWait(NotifyWParam leftMs, NotifyLParam totalMs) {
    if (!runGoing_) return;
    const uint32_t total = static_cast<uint32_t>(totalMs);
    const uint32_t left = static_cast<uint32_t>(std::min<NotifyWParam>(leftMs, total));
    // The bar fills as the pause runs out, so the wait is seen to move.
    SetProgress(total == 0 ? kProgressFull : static_cast<int>((uint64_t{total - left} * kProgressFull) / total));
    SetControlText(L"lbl_progress", L"");
    SetControlText(L"lbl_status", FirmwarePauseText(left));
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
    std::wstring text = StepEndText(static_cast<int>(step), static_cast<int>(result));
    const bool failed = result != 0;
    if (failed && step != StepFinished && !text.empty()) failedStepText_ = text;
    if (step == StepFinished) {
        runGoing_ = false;
        currentStep_ = StepFinished;
        // A device that went away cannot take another run, nor give its settings.
        SetControlEnabled(L"btn_update", connected_);
        // Settings that were never read must not open as a zero block, whose edits would be written
        // over the device's own.
        if (settingsDuringRun_ && connected_) {
            Engine().GetSettingsBlock(SettingsEditBuffer.data());
            settingsKnown_ = true;
        }
        settingsDuringRun_ = false;
        SetControlEnabled(L"btn_settings", connected_ && settingsKnown_);
        SetControlEnabled(L"btn_cancel", true);
        if (failed) {
            // The failed step and the reason stay shown; a run that had nothing to send says so.
            text = failedStepText_.empty() && NoImages() ? NoUpdateFilesText(Folder())
                                                         : FailedRunText(failedStepText_, Engine().FailureReason());
        } else if (connected_) {
            // After the firmware the device has restarted (the pause covered it); show what it holds now.
            refreshing_ = Engine().RefreshDeviceInfo() != 0;
        }
        // The run is over: nothing to ask before closing any more.
        if (closeQuestion_ != nullptr) closeQuestion_->reject();
    }
    // A failed step or run does not show a full bar: it stays where the transfer stopped.
    if (!failed) SetProgress(kProgressFull);
    SetControlText(L"lbl_progress", L"");
    SetControlText(L"lbl_status", text);
    if (step == StepFinished) KillTimer(USE_TIME_TIMER);
}

bool CFrame_Update::CanClose() {
    if (!runGoing_ || closeConfirmed_) return true;
    AskBeforeClosing();
    return false;
}

void CFrame_Update::AskBeforeClosing() {
    if (closeQuestion_ != nullptr) {
        closeQuestion_->raise();
        return;
    }
    // Not a nested event loop: engine messages keep arriving while the question stands.
    auto* box = new QMessageBox(QMessageBox::Warning, QStringLiteral("IAP Tool"),
                                QString::fromStdWString(L"Идёт обновление. Если прервать обновление ПО, устройство "
                                                        L"может перестать работать.\nЗакрыть программу?"),
                                QMessageBox::NoButton, Host());
    box->setObjectName(QStringLiteral("dlg_close"));
    QPushButton* close = box->addButton(QString::fromStdWString(L"Закрыть"), QMessageBox::AcceptRole);
    close->setObjectName(QStringLiteral("btn_close_confirm"));
    QPushButton* keep = box->addButton(QString::fromStdWString(L"Продолжить обновление"), QMessageBox::RejectRole);
    keep->setObjectName(QStringLiteral("btn_close_keep"));
    box->setDefaultButton(keep);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::WindowModal);
    closeQuestion_ = box;
    QObject::connect(box, &QMessageBox::finished, box, [this, box, close] {
        closeQuestion_ = nullptr;
        if (box->clickedButton() == close) {
            closeConfirmed_ = true;
            Close(1);
        }
    });
    box->open();
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
    refreshing_ = false;
    failedStepText_.clear();
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
