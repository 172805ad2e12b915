// The borderless windows' non-client hit test as a pure function, so the frame's drag and resize
// zones can be checked without a window system.
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "ui/UiTypes.h"

struct HitTestInput {
    UiPoint point;           // client coordinates
    UiSize client;           // client area size
    bool maximized = false;  // a maximised window has no resize margins
    UiRect sizeBox;          // widths of the resize margins
    UiRect caption;          // caption: left and right insets, top and bottom edges
    bool hasControl = false;         // a control lies under the point
    std::wstring controlClass;       // its class name ("ButtonUI", "LabelUI", ...)
};

// Returns one of the HT* codes. Resize margins win over the caption, corners over edges. Inside the
// caption the answer is HTCAPTION over any control whose class is not in clientClasses, HTCLIENT over
// one that is (those controls take the mouse themselves) or where no control lies.
int NcHitTest(const HitTestInput& input, std::span<const std::wstring_view> clientClasses);
