// CFrame_Update: the main window. It starts the engine when it opens, shows the versions of the
// update files and of the device, runs an update on "btn_update" and follows it with a status line,
// a progress bar, a percentage and an elapsed-time clock, and opens the settings window.
//
// UI thread only. The engine reaches it through its handle (GetHWND), whose messages arrive here on
// the UI thread while the sending engine thread waits; the handlers touch controls and the engine's
// plain accessors only and never wait for an engine thread.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "engine/UpdateSet.h"
#include "ui/HitTest.h"
#include "ui/WindowImplBase.h"

constexpr int USE_TIME_TIMER = 10086;
constexpr uint32_t USE_TIME_PERIOD_MS = 100;

class CUpdateSetWatch;
class CFolderDrop;

class CFrame_Update : public WindowImplBase {
public:
    // `toolFolder` holds the update files; empty means the program's folder. It ends with a separator.
    explicit CFrame_Update(std::wstring skinFile, std::wstring toolFolder = std::wstring());
    ~CFrame_Update() override;

    std::wstring GetWindowClassName() const override { return L"CFrame_Update"; }
    std::wstring GetSkinFile() override { return skinFile_; }
    void InitWindow() override;
    int OnNcHitTest(UiPoint screenPoint) override;
    intptr_t HandleCustomMessage(uint32_t message, NotifyWParam wParam, NotifyLParam lParam, bool& handled) override;
    void Notify(TNotifyUI& msg) override;
    QWidget* CreateControl(const std::wstring& className) override;
    // While a run goes, closing asks first (an interrupted firmware can leave the device unusable).
    bool CanClose() override;

    // This window's hit test: the caption drags except over buttons, options, sliders, edits and combo
    // boxes.
    static int HitTest(const HitTestInput& input);

    // The millisecond clock of the elapsed time (default: the system's tick count). Tests replace it.
    using TickSource = std::function<uint32_t()>;
    void SetTickSource(TickSource source);

    // The settings window was opened and has closed (for tests that drive it).
    using SettingsWindowHook = std::function<void(class CFrame_Set& window)>;
    void SetSettingsWindowHook(SettingsWindowHook hook);

    // The user chose `folder` (the folder button, a drop, a second start): the update files are read
    // from there from now on, and it is remembered for the next start. False, and nothing changes,
    // while a run is going or when `folder` is no folder.
    bool ChooseFolder(const std::wstring& folder);
    // Another start of the program was given `folder`: it is chosen now, or when the run going ends.
    void RequestFolder(const std::wstring& folder);
    // The update set as last read from the folder (at the start, on every change in the folder, at
    // "btn_update").
    const UpdateSet& CurrentUpdateSet() const { return updateSet_; }

    int CurrentStep() const { return currentStep_; }
    uint32_t StepTotal() const { return stepTotal_; }
    uint32_t StepSent() const { return stepSent_; }

private:
    void OnClick(TNotifyUI& msg);
    void StartUpdate(TNotifyUI& msg);
    void OpenSettings();
    void OnStepBegin(NotifyWParam step, NotifyLParam total);
    void OnPacket(NotifyWParam total, NotifyLParam sent);
    void OnStepEnd(NotifyWParam step, NotifyLParam result);
    void OnUseTimeTimer();
    void OnReady();
    void OnConnect(NotifyWParam state);
    void OnWait(NotifyWParam leftMs, NotifyLParam totalMs);
    void OnSlowAnswers(NotifyWParam delayMs);
    // The status of a run: `text`, then what the window was told to keep shown through the run (a
    // slow adapter).
    void SetRunStatus(const std::wstring& text);
    // No image has packets: a run would send nothing.
    bool NoImages();
    std::wstring Folder() const;
    // Reads the update set again and shows it; the idle status follows when what it says changed
    // (always when `force`).
    void RefreshUpdateSet(bool force);
    void ShowFolder();
    // The status while no run goes: the connection, then what keeps a run from starting or that
    // there is nothing to send, then edited settings waiting for the run.
    void ShowIdleStatus();
    void SetConnectionText(const std::wstring& text);
    void UpdateButtons();
    void OnFolderButton();
    void AskBeforeClosing();
    void SetControlText(const wchar_t* name, const std::wstring& text);
    void SetControlEnabled(const wchar_t* name, bool enabled);
    void SetProgress(int value);

    std::wstring skinFile_;
    std::wstring toolFolder_;
    UpdateSet updateSet_;
    std::wstring updateSetShown_;   // what the window last said about the set, to see a change
    std::wstring connectionText_;   // the connection's part of the idle status
    std::unique_ptr<CUpdateSetWatch> watch_;
    CFolderDrop* drop_ = nullptr;   // owned by the window's widget
    class CElidedPathLabel* folderLabel_ = nullptr;  // owned by "lbl_folder"
    std::wstring requestedFolder_;  // asked for during a run, chosen at its end
    bool settingsEdited_ = false;   // the user's edits (OK) wait for a run to write them
    bool settingsHandedOver_ = false;  // the engine holds edited settings for every later run
    bool settingsOnlyRun_ = false;  // this run has no file to send, only the settings
    bool runGoing_ = false;  // from "btn_update" until the end of the run (step 7)
    bool connected_ = false;  // from the device's information until its line is lost
    // From "no device" or a lost line until the user asks for another search ("btn_search").
    bool searchOffered_ = false;
    bool settingsKnown_ = false;      // the device's settings were read on this connection
    bool settingsDuringRun_ = false;  // they were read while a run was going, not yet taken
    bool refreshing_ = false; // the device was asked for its versions after a run
    bool closeConfirmed_ = false;
    class QMessageBox* closeQuestion_ = nullptr;
    std::wstring failedStepText_;  // the step that failed in this run
    std::wstring runNotice_;       // shown after the run's status until the next run starts
    int currentStep_ = 0;
    uint32_t stepTotal_ = 0;
    uint32_t stepSent_ = 0;
    uint32_t startTick_ = 0;
    TickSource tick_;
    SettingsWindowHook settingsHook_;
};
