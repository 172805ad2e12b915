// How the engine reports to its window: the engine messages, each delivered synchronously.
#include "engine/Work_BK.h"

#include "base/Trace.h"

namespace {
// True while this thread delivers an engine message (a handler may replace the window itself).
thread_local bool t_inNotify = false;
}  // namespace

void CWork_BK::SetNotifyWindow(NotifyHandle window) {
    std::unique_lock<std::mutex> lock(notifyMutex_);
    notifyWindow_ = window;
    if (!t_inNotify) notifyIdle_.wait(lock, [this] { return notifyInFlight_ == 0; });
}

bool CWork_BK::SendToWindow(uint32_t message, NotifyWParam wParam, NotifyLParam lParam) {
    NotifyHandle window;
    {
        std::lock_guard<std::mutex> lock(notifyMutex_);
        window = notifyWindow_;
        if (window == nullptr) return false;
        ++notifyInFlight_;
    }
    const bool outer = !t_inNotify;
    t_inNotify = true;
    window->Send(message, wParam, lParam);
    if (outer) t_inNotify = false;
    {
        std::lock_guard<std::mutex> lock(notifyMutex_);
        --notifyInFlight_;
    }
    notifyIdle_.notify_all();
    return true;
}

void CWork_BK::NotifyReady() {
    {
        // Counted under the pause's lock, so a restart waiting for the device cannot miss it.
        std::lock_guard<std::mutex> lock(pauseMutex_);
        readyCount_.fetch_add(1);
    }
    pauseWake_.notify_all();
    SendToWindow(WM_ENGINE_READY, 0, 0);
}

void CWork_BK::NotifySettingsRead(int refused) { SendToWindow(WM_ENGINE_SETTINGS, refused != 0 ? 1 : 0, 0); }

void CWork_BK::NotifyStepBegin() {
    SendToWindow(WM_ENGINE_STEP_BEGIN, static_cast<NotifyWParam>(currentStep_.load()), stepTotal_.load());
}

void CWork_BK::NotifyPacketSent() {
    // Packets are counted only while a window is there to be told.
    if (!HasNotifyWindow()) return;
    // A step never shows more packets than it sends: an answer beyond that fails the step instead.
    int sent = stepSent_.load();
    do {
        if (sent >= stepTotal_.load()) return;
    } while (!stepSent_.compare_exchange_weak(sent, sent + 1));
    ++sent;
    SendToWindow(WM_ENGINE_PACKET, static_cast<NotifyWParam>(stepTotal_.load()), sent);
}

void CWork_BK::NotifyStepEnd(int result) {
    stepResult_.store(result);
    SendToWindow(WM_ENGINE_STEP_END, static_cast<NotifyWParam>(currentStep_.load()), result);
}

bool CWork_BK::HasNotifyWindow() {
    std::lock_guard<std::mutex> lock(notifyMutex_);
    return notifyWindow_ != nullptr;
}

void CWork_BK::NotifyConnect(ConnectState state) {
    SendToWindow(WM_ENGINE_CONNECT, static_cast<NotifyWParam>(state), 0);
}

void CWork_BK::NotifyWait(uint32_t leftMs, uint32_t totalMs) {
    SendToWindow(WM_ENGINE_WAIT, static_cast<NotifyWParam>(leftMs), static_cast<NotifyLParam>(totalMs));
}

void CWork_BK::NotifyAnswerTimes(const AnswerTimeVerdict& verdict) {
    Trace(L"[CWork_BK] answers to the first %u packets: median %u us after the packet (the line needs %u us)%ls\r\n",
          CAnswerTimeMeter::kWindow, verdict.medianAnswerUs, verdict.medianWireUs,
          verdict.slow ? L"; the line holds every answer back" : L"");
    if (verdict.slow)
        SendToWindow(WM_ENGINE_SLOW_ANSWERS, static_cast<NotifyWParam>(verdict.delayMs),
                     static_cast<NotifyLParam>(verdict.medianAnswerUs));
}
