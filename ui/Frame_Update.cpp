#include "ui/Frame_Update.h"

#include <QAbstractButton>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>

#include <algorithm>
#include <memory>
#include <string_view>

#include "base/Text.h"
#include "base/Trace.h"
#include "engine/UpdateStep.h"
#include "transport/Serial.h"
#include "transport/TickCount.h"
#include "ui/DisplayText.h"
#include "ui/EngineLink.h"
#include "ui/ElidedPathLabel.h"
#include "ui/FolderDrop.h"
#include "ui/FolderMemory.h"
#include "ui/Frame_Set.h"
#include "ui/SettingsEditBuffer.h"
#include "ui/StepTexts.h"
#include "ui/UpdateSetText.h"
#include "ui/UpdateSetWatch.h"
#include "ui/VersionStrings.h"

namespace {

constexpr std::wstring_view kClientClasses[] = {L"ButtonUI", L"OptionUI", L"SliderUI",
                                                L"EditUI", L"RichEditUI", L"ComboUI"};

constexpr int kIconResource = 108;
constexpr int kProgressFull = 100;

// `folder` as the engine builds paths on it: absolute, '/' between parts, ending in one.
std::wstring FolderWithSeparator(const QString& folder) {
    QString path = QDir::cleanPath(QFileInfo(folder).absoluteFilePath());
    if (!path.endsWith(QLatin1Char('/'))) path += QLatin1Char('/');
    return path.toStdWString();
}

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
    if (CControlUI status = PaintManager().FindControl(L"lbl_status")) connectionText_ = status.GetText();
    watch_ = std::make_unique<CUpdateSetWatch>([this] { RefreshUpdateSet(false); });
    if (QWidget* host = Host()) drop_ = new CFolderDrop(host, [this](const std::wstring& folder) { ChooseFolder(folder); });
    RefreshUpdateSet(true);
    Engine().SetNotifyWindow(GetHWND());
    Engine().StartEngine(SERIAL_PORT_LIMIT, SERIAL_TRANSFER_BAUD, Folder());
    SetIcon(kIconResource);
    CenterWindow();
}

intptr_t CFrame_Update::HandleCustomMessage(uint32_t message, NotifyWParam wParam, NotifyLParam lParam, bool& handled) {
    handled = false;
    switch (message) {
    case WM_ENGINE_READY: OnReady(); break;
    case WM_ENGINE_CONNECT: OnConnect(wParam); break;
    case WM_ENGINE_WAIT: OnWait(wParam, lParam); break;
    case WM_ENGINE_SLOW_ANSWERS: OnSlowAnswers(wParam); break;
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
        // Edits the user made are kept until a run has written them: a reconnect reads the device
        // again, and its block must not replace them.
        if (!settingsEdited_) Engine().GetSettingsBlock(SettingsEditBuffer.data());
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
    // The device has just told its versions; show them beside the files' versions.
    SetControlText(L"lbl_device_firmwareversion", Engine().DeviceFirmwareVersion());
    SetControlText(L"lbl_device_dataversion", Engine().DeviceDataVersion());
    SetControlText(L"lbl_device_radarversion", Engine().DeviceRadarVersion());
    if (runGoing_) return;
    UpdateButtons();
    connectionText_ = L"Устройство подключено.";
    // The answer to the question asked after a run refreshes the versions; the run's end stays shown.
    if (refreshing_) {
        refreshing_ = false;
        return;
    }
    ShowIdleStatus();
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
        searchOffered_ = true;
        UpdateButtons();
        SetConnectionText(L"Связь с устройством потеряна. Подключите устройство, поиск продолжается.");
    } else if (state == static_cast<NotifyWParam>(ConnectState::Restarting)) {
        // The run goes on once the device is back; the versions it then reports are shown.
        if (runGoing_) SetRunStatus(RestartSearchText());
    } else if (state == static_cast<NotifyWParam>(ConnectState::NoDevice)) {
        if (runGoing_ || connected_) return;
        searchOffered_ = true;
        UpdateButtons();
        SetConnectionText(NoDeviceStatusText(Engine().LastScanReport()));
    }
}

void CFrame_Update::OnWait(NotifyWParam leftMs, NotifyLParam totalMs) {
    if (!runGoing_) return;
    const uint32_t total = static_cast<uint32_t>(totalMs);
    const uint32_t left = static_cast<uint32_t>(std::min<NotifyWParam>(leftMs, total));
    // The bar fills as the pause runs out, so the wait is seen to move.
    SetProgress(total == 0 ? kProgressFull : static_cast<int>((uint64_t{total - left} * kProgressFull) / total));
    SetControlText(L"lbl_progress", L"");
    SetRunStatus(FirmwarePauseText(left));
}

void CFrame_Update::OnSlowAnswers(NotifyWParam delayMs) {
    if (!runGoing_) return;
    Trace(L"[CFrame_Update] the adapter holds every answer back by about %u ms: shown\n", static_cast<unsigned>(delayMs));
    runNotice_ = SlowAdapterText(static_cast<uint32_t>(delayMs));
    SetRunStatus(StepText(currentStep_));
}

void CFrame_Update::SetRunStatus(const std::wstring& text) {
    SetControlText(L"lbl_status", runNotice_.empty() ? text : text + L" " + runNotice_);
}

void CFrame_Update::OnStepBegin(NotifyWParam step, NotifyLParam total) {
    currentStep_ = static_cast<int>(step);
    stepTotal_ = static_cast<uint32_t>(total);
    stepSent_ = 0;
    SetProgress(step == StepFinished ? kProgressFull : 0);
    SetControlText(L"lbl_progress", L"");
    SetRunStatus(StepText(currentStep_));
}

void CFrame_Update::OnPacket(NotifyWParam total, NotifyLParam sent) {
    stepTotal_ = static_cast<uint32_t>(total);
    stepSent_ = static_cast<uint32_t>(sent);
    // The engine never reports a step without packets; should it, the step shows no progress rather
    // than dividing by zero.
    const unsigned percent = StepPercent(stepTotal_, stepSent_);
    SetProgress(static_cast<int>(BarValue(percent)));
    SetControlText(L"lbl_progress", PercentText(percent));
    SetRunStatus(StepText(currentStep_));
}

void CFrame_Update::OnStepEnd(NotifyWParam step, NotifyLParam result) {
    std::wstring text = StepEndText(static_cast<int>(step), static_cast<int>(result));
    const bool failed = result != 0;
    if (failed && step != StepFinished && !text.empty()) failedStepText_ = text;
    // The device holds the edits now; from here on its own block is what the window shows.
    if (!failed && step == StepSettings) settingsEdited_ = false;
    if (step == StepFinished) {
        runGoing_ = false;
        currentStep_ = StepFinished;
        // A device that went away cannot take another run, nor give its settings.
        UpdateButtons();
        // Settings that were never read must not open as a zero block, whose edits would be written
        // over the device's own.
        if (settingsDuringRun_ && connected_) {
            Engine().GetSettingsBlock(SettingsEditBuffer.data());
            settingsKnown_ = true;
        }
        settingsDuringRun_ = false;
        SetControlEnabled(L"btn_settings", connected_ && settingsKnown_);
        SetControlEnabled(L"btn_cancel", true);
        SetControlEnabled(L"btn_folder", true);
        if (!failed && settingsOnlyRun_) text = SettingsOnlyDoneText();
        if (failed) {
            // The failed step and the reason stay shown; a run that had nothing to send says so.
            text = failedStepText_.empty() && NoImages() ? NoUpdateFilesText(Folder())
                                                         : FailedRunText(failedStepText_, Engine().FailureReason());
        } else if (connected_) {
            // After the firmware the device has restarted (the pause covered it); show what it holds now.
            refreshing_ = Engine().RefreshDeviceInfo() != 0;
        }
        if (!requestedFolder_.empty()) {
            const std::wstring folder = std::move(requestedFolder_);
            requestedFolder_.clear();
            // The run's end stays shown; the folder's files follow in the labels.
            if (ChooseFolder(folder)) text += L" " + FolderTakenText(Folder());
        }
        // The run is over: nothing to ask before closing any more.
        if (closeQuestion_ != nullptr) closeQuestion_->reject();
    }
    // A failed step or run does not show a full bar: it stays where the transfer stopped.
    if (!failed) SetProgress(kProgressFull);
    SetControlText(L"lbl_progress", L"");
    // The run's end says why it took so long, too.
    SetRunStatus(text);
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
    } else if (name == L"btn_folder") {
        OnFolderButton();
    } else if (name == L"btn_search") {
        searchOffered_ = false;
        UpdateButtons();
        SetConnectionText(L"Поиск устройства на всех портах...");
        Engine().SearchAgain();
    }
}

void CFrame_Update::OpenSettings() {
    ShowWindow(false);
    auto settings = std::make_unique<CFrame_Set>(L"Frame_Set.xml");
    if (settings->Create(nullptr, L"IAP Tool", UI_WS_VISIBLE | UI_WS_OVERLAPPEDWINDOW, UI_WS_EX_WINDOWEDGE) != 0) {
        if (settingsHook_) settingsHook_(*settings);
        const SettingsBlock before = SettingsEditBuffer;
        settings->ShowModal();
        SettingsBlock device{};
        Engine().GetSettingsBlock(device.data());
        if (SettingsEditBuffer != before) {
            settingsEdited_ = SettingsEditBuffer != device;
            ShowIdleStatus();
        }
    }
    ShowWindow(true);
}

void CFrame_Update::StartUpdate(TNotifyUI& msg) {
    // What is on disk now decides, not what was there a moment ago: a file that went bad since keeps
    // the run from starting, and says why.
    RefreshUpdateSet(false);
    if (updateSet_.Blocking() != nullptr) {
        UpdateButtons();
        ShowIdleStatus();
        return;
    }
    msg.sender.SetEnabled(false);
    SetControlEnabled(L"btn_folder", false);
    SetControlEnabled(L"btn_settings", false);
    SetControlEnabled(L"btn_cancel", false);

    runGoing_ = true;
    refreshing_ = false;
    failedStepText_.clear();
    runNotice_.clear();
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
        settingsHandedOver_ = true;
    }
    settingsOnlyRun_ = settingsHandedOver_ && !updateSet_.AnyToSend();

    SetControlText(L"lbl_status", settingsOnlyRun_ ? SettingsOnlyRunText() : std::wstring(L"Старт обновления..."));
    SetProgress(0);
    Engine().StartUpdateRun();
}

void CFrame_Update::SetConnectionText(const std::wstring& text) {
    connectionText_ = text;
    ShowIdleStatus();
}

void CFrame_Update::ShowIdleStatus() {
    if (runGoing_) return;
    std::wstring text = connectionText_;
    const auto add = [&text](const std::wstring& part) { text += (text.empty() ? L"" : L" ") + part; };
    if (const UpdateFileCheck* blocking = updateSet_.Blocking())
        add(BlockedRunText(*blocking));
    else if (connected_ && !updateSet_.AnyToSend())
        add(NoUpdateFilesText(Folder()) + L". " + ChooseFolderHint());
    if (settingsEdited_) add(SettingsPendingText());
    SetControlText(L"lbl_status", text);
}

void CFrame_Update::UpdateButtons() {
    SetControlEnabled(L"btn_update", connected_ && !runGoing_ && updateSet_.Blocking() == nullptr);
    SetControlEnabled(L"btn_folder", !runGoing_);
    SetControlEnabled(L"btn_search", searchOffered_ && !connected_ && !runGoing_);
}

void CFrame_Update::RefreshUpdateSet(bool force) {
    const std::wstring folder = Folder();
    updateSet_ = ReadUpdateSet(WideToUtf8(folder));
    VerDeviceType = updateSet_.versionFile.lines[0];
    VerFileFirmware = updateSet_.versionFile.lines[1];
    VerFileData = updateSet_.versionFile.lines[2];
    VerFileRadar = updateSet_.versionFile.lines[3];
    const std::wstring firmware = ShownVersionText(FirmwareVersionShown(updateSet_));
    const std::wstring data = ShownVersionText(DataVersionShown(updateSet_));
    const std::wstring radar = ShownVersionText(RadarVersionShown(updateSet_));
    const std::wstring files = FileStatesText(updateSet_);
    SetControlText(L"lbl_device_type", TrimLineEnd(VerDeviceType));
    SetControlText(L"lbl_file_firmwareversion", firmware);
    SetControlText(L"lbl_file_dataversion", data);
    SetControlText(L"lbl_file_radarversion", radar);
    SetControlText(L"lbl_files", files);
    ShowFolder();
    if (watch_) watch_->Watch(folder);
    const std::wstring shown = folder + L'\n' + VerDeviceType + firmware + data + radar + files;
    const bool changed = shown != updateSetShown_;
    updateSetShown_ = shown;
    if (changed) Trace(L"[CFrame_Update] update set in %ls:\n%ls\n", folder.c_str(), files.c_str());
    if (runGoing_) return;
    UpdateButtons();
    if (changed || force) ShowIdleStatus();
}

void CFrame_Update::ShowFolder() {
    if (folderLabel_ == nullptr) {
        auto* label = qobject_cast<QLabel*>(PaintManager().FindControl(L"lbl_folder").Widget());
        if (label == nullptr) return;
        folderLabel_ = new CElidedPathLabel(label);
    }
    folderLabel_->SetPath(QDir::toNativeSeparators(QString::fromStdWString(Folder())));
}

bool CFrame_Update::ChooseFolder(const std::wstring& folder) {
    if (runGoing_) return false;
    const QString path = QString::fromStdWString(folder);
    if (path.isEmpty() || !QFileInfo(path).isDir()) return false;
    toolFolder_ = FolderWithSeparator(path);
    Engine().SetToolFolder(toolFolder_);
    RememberFolder(toolFolder_);
    Trace(L"[CFrame_Update] update folder chosen: %ls\n", toolFolder_.c_str());
    RefreshUpdateSet(true);
    return true;
}

void CFrame_Update::RequestFolder(const std::wstring& folder) {
    if (runGoing_) {
        Trace(L"[CFrame_Update] folder %ls asked for during a run: taken when it ends\n", folder.c_str());
        requestedFolder_ = folder;
        return;
    }
    if (!ChooseFolder(folder)) Trace(L"[CFrame_Update] folder %ls asked for is no folder\n", folder.c_str());
}

void CFrame_Update::OnFolderButton() {
    const QString chosen = QFileDialog::getExistingDirectory(Host(), QString::fromStdWString(L"Папка с файлами обновления"),
                                                             QString::fromStdWString(Folder()));
    if (!chosen.isEmpty()) ChooseFolder(chosen.toStdWString());
}
