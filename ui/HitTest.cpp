#include "ui/HitTest.h"

#include <algorithm>

int NcHitTest(const HitTestInput& in, std::span<const std::wstring_view> clientClasses) {
    const int x = in.point.x;
    const int y = in.point.y;
    if (!in.maximized) {
        const bool left = x < in.sizeBox.left;
        const bool right = x >= in.client.cx - in.sizeBox.right;
        if (y < in.sizeBox.top) return left ? HTTOPLEFT : right ? HTTOPRIGHT : HTTOP;
        if (y >= in.client.cy - in.sizeBox.bottom) return left ? HTBOTTOMLEFT : right ? HTBOTTOMRIGHT : HTBOTTOM;
        if (left) return HTLEFT;
        if (right) return HTRIGHT;
    }
    const bool inCaption = x >= in.caption.left && x < in.client.cx - in.caption.right &&
                           y >= in.caption.top && y < in.caption.bottom;
    if (!inCaption || !in.hasControl) return HTCLIENT;
    const bool takesMouse = std::find(clientClasses.begin(), clientClasses.end(),
                                      std::wstring_view(in.controlClass)) != clientClasses.end();
    return takesMouse ? HTCLIENT : HTCAPTION;
}
