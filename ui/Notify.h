// The notification record a skin's controls send to their window, and the two interfaces a window
// implements for the skin library: notifications and custom controls.
#pragma once

#include <string>

#include "ui/ControlUI.h"

class QWidget;

// Types in use: "windowinit" (the window's controls exist and it is shown), "click" (a button,
// option or check box was pressed), "selectchanged" (an option became selected, or a check box
// changed), "itemselect" (a combo box's selected item changed, whoever changed it).
struct TNotifyUI {
    std::wstring type;
    CControlUI sender;
};

class INotifyUI {
public:
    virtual ~INotifyUI() = default;
    virtual void Notify(TNotifyUI& msg) = 0;
};

class IDialogBuilderCallback {
public:
    virtual ~IDialogBuilderCallback() = default;
    // Asked for a skin element whose class the library does not know. Returns a new control tree
    // (the caller takes ownership) or null, in which case the element is left out.
    virtual QWidget* CreateControl(const std::wstring& className) = 0;
};
