// Small value types and constants shared by the window layer: rectangles, hit-test codes, window
// styles and the message numbers the windows handle besides the engine's (NotifyWindow.h).
#pragma once

#include <cstdint>

struct UiPoint {
    int x = 0;
    int y = 0;
};

struct UiSize {
    int cx = 0;
    int cy = 0;
};

// Edges or insets as left, top, right, bottom (the order the skins write them in).
struct UiRect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
    friend bool operator==(const UiRect&, const UiRect&) = default;
};

// Non-client hit-test answers, with the values the Windows hit test uses.
enum UiHitTest : int {
    HTCLIENT = 1,
    HTCAPTION = 2,
    HTLEFT = 10,
    HTRIGHT = 11,
    HTTOP = 12,
    HTTOPLEFT = 13,
    HTTOPRIGHT = 14,
    HTBOTTOM = 15,
    HTBOTTOMLEFT = 16,
    HTBOTTOMRIGHT = 17,
};

// Window styles as Create takes them. Only UI_WS_VISIBLE changes anything: the windows are always
// borderless and draw their caption from the skin.
constexpr uint32_t UI_WS_VISIBLE = 0x10000000u;
constexpr uint32_t UI_WS_OVERLAPPEDWINDOW = 0x00CF0000u;
constexpr uint32_t UI_WS_EX_WINDOWEDGE = 0x00000100u;
// Position or size "as the skin says".
constexpr int UI_CW_USEDEFAULT = static_cast<int>(0x80000000u);

// The timer message HandleCustomMessage receives; wParam is the timer id.
constexpr uint32_t UI_WM_TIMER = 0x0113;
