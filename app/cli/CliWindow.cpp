#include "app/cli/CliWindow.h"

#include <chrono>

#include "transport/TickCount.h"
#include "ui/StepTexts.h"

namespace {
constexpr uint32_t kClockTickMs = 100;

bool IsRecordedStep(NotifyWParam step) { return step >= StepProject && step < static_cast<NotifyWParam>(kStepLimit); }
}  // namespace

CCliWindow::CCliWindow(CProgressView* view) : view_(view) {}

void CCliWindow::SetLineCounter(std::function<LineBytes()> counter) { lineCounter_ = std::move(counter); }

intptr_t CCliWindow::Send(uint32_t message, NotifyWParam wParam, NotifyLParam lParam) {
    const uint32_t now = GetTickCountMs();
    const bool stepEdge = message == WM_ENGINE_STEP_BEGIN || message == WM_ENGINE_STEP_END;
    const LineBytes bytes = stepEdge ? CountNow() : LineBytes{};
    switch (message) {
        case WM_ENGINE_READY: {
            std::lock_guard<std::mutex> lock(mutex_);
            ready_ = true;
            break;
        }
        case WM_ENGINE_SETTINGS: {
            std::lock_guard<std::mutex> lock(mutex_);
            ++settingsAnswers_;
            break;
        }
        case WM_ENGINE_STEP_BEGIN: {
            {
                std::lock_guard<std::mutex> lock(mutex_);
                if (IsRecordedStep(wParam) && !stepBegun_[wParam]) {
                    stepBegun_[wParam] = true;
                    stepBeginMs_[wParam] = now;
                    stepBeginBytes_[wParam] = bytes;
                }
            }
            if (view_) view_->StepBegin(static_cast<int>(wParam), static_cast<unsigned>(lParam), now);
            break;
        }
        case WM_ENGINE_PACKET:
            if (view_) view_->Packet(static_cast<unsigned>(wParam), static_cast<unsigned>(lParam), now);
            break;
        case WM_ENGINE_WAIT:
            if (view_) view_->Waiting(static_cast<uint32_t>(wParam), static_cast<uint32_t>(lParam), now);
            break;
        case WM_ENGINE_SLOW_ANSWERS:
            if (view_) view_->Notice(SlowAdapterText(static_cast<uint32_t>(wParam)), now);
            break;
        case WM_ENGINE_STEP_END: {
            {
                std::lock_guard<std::mutex> lock(mutex_);
                if (IsRecordedStep(wParam)) {
                    stepEnded_[wParam] = true;
                    stepEndMs_[wParam] = now;
                    stepResult_[wParam] = static_cast<int>(lParam);
                    stepEndBytes_[wParam] = bytes;
                    // A step that was never announced (the settings write) counts from the last end.
                    if (!stepBegun_[wParam]) {
                        stepBegun_[wParam] = true;
                        stepBeginMs_[wParam] = lastEndMs_;
                        stepBeginBytes_[wParam] = lastEndBytes_;
                    }
                    lastEndMs_ = now;
                    lastEndBytes_ = bytes;
                }
                if (wParam == StepFinished) {
                    finished_ = true;
                    runResult_ = static_cast<int>(lParam);
                }
            }
            if (view_) view_->StepEnd(static_cast<int>(wParam), static_cast<int>(lParam), now);
            break;
        }
        default:
            return 0;
    }
    changed_.notify_all();
    return 0;
}

void CCliWindow::RunStarted() {
    const uint32_t now = GetTickCountMs();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        finished_ = false;
        stepBegun_.fill(false);
        stepEnded_.fill(false);
        stepResult_.fill(0);
        lastEndMs_ = now;  // the reference for a first step that is never announced
        lastEndBytes_ = CountNow();
    }
    if (view_) view_->RunStarted(now);
}

template <typename Pred>
bool CCliWindow::WaitFor(uint32_t timeoutMs, Pred pred) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), pred);
}

void CCliWindow::Interrupt() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        interrupted_ = true;
    }
    changed_.notify_all();
}

bool CCliWindow::Interrupted() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return interrupted_;
}

bool CCliWindow::WaitForReady(uint32_t timeoutMs) {
    return WaitFor(timeoutMs, [this] { return ready_ || interrupted_; }) && !Interrupted();
}

bool CCliWindow::WaitForSettings(int count, uint32_t timeoutMs) {
    return WaitFor(timeoutMs, [this, count] { return settingsAnswers_ >= count || interrupted_; }) && !Interrupted();
}

bool CCliWindow::WaitForRunEnd() {
    for (;;) {
        if (WaitFor(kClockTickMs, [this] { return finished_ || interrupted_; })) {
            std::lock_guard<std::mutex> lock(mutex_);
            return finished_;
        }
        if (view_) view_->Tick(GetTickCountMs());
    }
}

int CCliWindow::RunResult() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return runResult_;
}

uint32_t CCliWindow::StepMs(int step) const {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!IsRecordedStep(static_cast<NotifyWParam>(step)) || !stepBegun_[step] || !stepEnded_[step]) return 0;
    return stepEndMs_[step] - stepBeginMs_[step];
}

bool CCliWindow::StepRan(int step) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return IsRecordedStep(static_cast<NotifyWParam>(step)) && stepEnded_[step];
}

int CCliWindow::StepResult(int step) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return IsRecordedStep(static_cast<NotifyWParam>(step)) ? stepResult_[step] : 0;
}

LineBytes CCliWindow::StepLineBytes(int step) const {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!IsRecordedStep(static_cast<NotifyWParam>(step)) || !stepBegun_[step] || !stepEnded_[step]) return {};
    return {stepEndBytes_[step].sent - stepBeginBytes_[step].sent,
            stepEndBytes_[step].received - stepBeginBytes_[step].received};
}
