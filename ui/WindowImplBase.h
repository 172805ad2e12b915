// WindowImplBase: a borderless skin window. The skin file supplies the controls; the derived window
// supplies its class name, its skin file, InitWindow, Notify, HandleCustomMessage (engine messages and
// the timer), OnNcHitTest and CreateControl.
//
// UI thread only, except the handle GetHWND(), whose Send may be called from any thread (see
// NotifyBridge.h). Closing the window closes that handle: messages sent afterwards are dropped, as
// messages to a destroyed window are. A window object is created once; Create again fails.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "engine/NotifyWindow.h"
#include "ui/DialogBuilder.h"
#include "ui/HitTest.h"
#include "ui/NotifyBridge.h"
#include "ui/Notify.h"
#include "ui/PaintManagerUI.h"
#include "ui/UiTypes.h"

class QWidget;
class QEventLoop;
class CFrameHost;

class WindowImplBase : public INotifyUI, public IDialogBuilderCallback {
public:
    WindowImplBase();
    ~WindowImplBase() override;
    WindowImplBase(const WindowImplBase&) = delete;
    WindowImplBase& operator=(const WindowImplBase&) = delete;

    virtual std::wstring GetWindowClassName() const = 0;
    virtual std::wstring GetSkinFile() = 0;
    // Once, after the skin's controls exist and before the window is shown.
    virtual void InitWindow() {}
    // The library's default handling of a notification: nothing.
    void Notify(TNotifyUI& msg) override;
    // Engine messages and UI_WM_TIMER (wParam: the timer id). `handled` starts false.
    virtual intptr_t HandleCustomMessage(uint32_t message, NotifyWParam wParam, NotifyLParam lParam, bool& handled);
    // The non-client hit test for a point in screen coordinates: an HT* code. Default HTCLIENT.
    virtual int OnNcHitTest(UiPoint screenPoint);
    // What the hit test needs to know about a screen point: client point and size, the skin's size box
    // and caption, the maximised state and the class of the control under the point.
    HitTestInput HitTestInputAt(UiPoint screenPoint) const;
    QWidget* CreateControl(const std::wstring& className) override;
    // Asked when the window is about to close (the user's close, Close): false keeps it open, for
    // instance while a question to the user is pending. Not asked once closing is forced.
    virtual bool CanClose() { return true; }
    // From now on every window closes without asking (a remote driver that went away must not leave
    // the program behind waiting for an answer).
    static void ForceClosing();
    static bool ClosingForced();
    // Closes a top-level window as the user's close does: its close event decides. Under wine, after
    // an update run, Qt's close of the shown main window sometimes reports success without delivering
    // that event, and the window and its modal loop stay; the event is then delivered here. True when
    // the window closed. UI thread only.
    static bool CloseTopLevel(QWidget* window);

    // Builds the window from the skin: InitWindow, then shown when `style` has UI_WS_VISIBLE, then the
    // "windowinit" notification. UI_CW_USEDEFAULT keeps the skin's position or size. `parent` may be
    // null. Returns 1, or 0 when the skin can't be built (LastError says why).
    int Create(WindowImplBase* parent, const std::wstring& caption, uint32_t style, uint32_t exStyle,
               int x = UI_CW_USEDEFAULT, int y = UI_CW_USEDEFAULT, int cx = UI_CW_USEDEFAULT, int cy = UI_CW_USEDEFAULT);
    // Shows the window and runs a nested event loop until it closes; returns the Close result
    // (0 when it was closed some other way, -1 when it was never created).
    int ShowModal();
    void ShowWindow(bool show = true);
    void Close(int result = 1);
    void CenterWindow();
    // Sets the window icon from "<resource id>.png" in the skin folder, when that file exists.
    void SetIcon(int resourceId);
    // The handle the engine reports to; null before Create.
    NotifyHandle GetHWND() const;

    // A timer that calls HandleCustomMessage(UI_WM_TIMER, id, 0) every periodMs. Starting an id that
    // runs restarts it. Returns 1, or 0 without a window.
    int SetTimer(int id, uint32_t periodMs);
    void KillTimer(int id);
    bool IsTimerRunning(int id) const;

    CPaintManagerUI& PaintManager() { return pm_; }
    const CPaintManagerUI& PaintManager() const { return pm_; }
    const std::wstring& LastError() const { return lastError_; }
    bool IsWindowOpen() const;
    QWidget* Host() const;

private:
    friend class CFrameHost;
    void OnHostClosed();
    void OnHostTimer(int qtTimerId);

    std::unique_ptr<CFrameHost> host_;
    std::unique_ptr<CNotifyBridge> bridge_;
    CPaintManagerUI pm_;
    std::map<int, int> timers_;  // our id -> Qt's timer id
    QEventLoop* modalLoop_ = nullptr;
    int result_ = 0;
    bool closed_ = false;
    std::wstring lastError_;
};
