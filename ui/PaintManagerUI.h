// CPaintManagerUI: the process's program, current and resource folders (static), and per window the
// skin's control tree: controls by name or by point, and the borderless frame's size box and caption.
// UI thread only.
#pragma once

#include <string>

#include "ui/ControlUI.h"
#include "ui/Notify.h"
#include "ui/UiTypes.h"

class QWidget;

class CPaintManagerUI {
public:
    // Records the folder of the running program (needs the QApplication). GetInstancePath ends with a
    // path separator; it is empty before SetInstance or SetInstancePath.
    static void SetInstance();
    static void SetInstancePath(const std::wstring& folder);
    static std::wstring GetInstancePath();
    // Makes `folder` the process's current folder; 1 on success, 0 when it can't be entered.
    static int SetCurrentPath(const std::wstring& folder);
    static std::wstring GetCurrentPath();
    // The folder skins are read from. A relative folder is taken inside the program's folder.
    static void SetResourcePath(const std::wstring& folder);
    // Absolute, ending with a path separator.
    static std::wstring GetResourcePath();

    // The window `host` shows the skin tree `root`. Neither is owned.
    void Attach(QWidget* host, QWidget* root);
    // Sends every control's notifications to `target` from now on.
    void ConnectNotifications(INotifyUI* target);
    CControlUI GetRoot() const;

    // The control with this name, or a null handle.
    CControlUI FindControl(const std::wstring& name) const;
    // The innermost control under a client point, or a null handle outside the skin.
    CControlUI FindControl(UiPoint clientPoint) const;

    // From the skin root's properties "sizebox" and "caption", written "left,top,right,bottom".
    UiRect GetSizeBox() const;
    UiRect GetCaptionRect() const;
    UiSize GetClientSize() const;
    bool IsZoomed() const;
    UiPoint ScreenToClient(UiPoint screenPoint) const;

private:
    UiRect RootRectProperty(const char* name) const;

    QWidget* host_ = nullptr;
    QWidget* root_ = nullptr;
};
