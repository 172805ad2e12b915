#include "app/cli/ProgressView.h"

#include <algorithm>
#include <cwchar>

#include "ui/StepTexts.h"
#include "app/cli/TextOut.h"
#include "engine/UpdateStep.h"
#include "base/Trace.h"

namespace {
const wchar_t* const kClearLine = L"\r\x1b[K";
}

CProgressView::CProgressView(std::FILE* out, Mode mode) : out_(out), mode_(mode) {}

void CProgressView::Write(const std::wstring& text) { PrintText(out_, text); }

void CProgressView::WriteLine(const std::wstring& text) {
    if (mode_ == Mode::Terminal && lineOpen_) {
        Write(kClearLine + text + L"\n");
        lineOpen_ = false;
    } else {
        Write(text + L"\n");
    }
}

std::wstring CProgressView::TerminalLine(uint32_t nowMs) const {
    std::wstring line = L"[";
    const unsigned filled = bar_ * kBarWidth / 100;
    for (int i = 0; i < kBarWidth; ++i) line += static_cast<unsigned>(i) < filled ? L'#' : L'.';
    line += L"] ";
    wchar_t percent[16] = {};
    std::swprintf(percent, 16, L"%4ls", percentText_.c_str());
    line += percent;
    line += L" ";
    line += waitText_.empty() ? StepText(step_) : waitText_;
    line += L"  ";
    line += ElapsedText(nowMs - startMs_);
    return line;
}

void CProgressView::Redraw(uint32_t nowMs) {
    if (mode_ != Mode::Terminal) return;
    Write(kClearLine + TerminalLine(nowMs));
    lineOpen_ = true;
    drawnMs_ = nowMs;
}

void CProgressView::RunStarted(uint32_t nowMs) {
    std::lock_guard<std::mutex> lock(mutex_);
    startMs_ = nowMs;
    runEnded_ = false;
    step_ = 0;
    bar_ = 0;
    percentText_.clear();
    WriteLine(L"Старт обновления...");
}

void CProgressView::StepBegin(int step, unsigned total, uint32_t nowMs) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (runEnded_) return;
    // A step announced twice (on its start and again on the device's ready answer) is drawn once.
    if (step == step_ && lastDecile_ >= 0) return;
    step_ = step;
    bar_ = step == StepFinished ? 100 : 0;
    percentText_.clear();
    waitText_.clear();
    lastDecile_ = 0;
    if (mode_ == Mode::Plain) {
        wchar_t count[32] = {};
        std::swprintf(count, 32, L" (%u)", total);
        WriteLine(StepText(step) + count);
    } else {
        Redraw(nowMs);
    }
}

void CProgressView::Packet(unsigned total, unsigned sent, uint32_t nowMs) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (runEnded_) return;
    sent = std::min(sent, total);
    const unsigned percent = StepPercent(total, sent);
    bar_ = BarValue(percent);
    percentText_ = PercentText(percent);
    if (mode_ == Mode::Terminal) {
        Redraw(nowMs);
        return;
    }
    const int decile = static_cast<int>(percent / 10);
    if (decile > lastDecile_) {
        lastDecile_ = decile;
        wchar_t line[64] = {};
        std::swprintf(line, 64, L"  %3d%% (%u/%u)", static_cast<int>(percent), sent, total);
        WriteLine(line);
    }
}

void CProgressView::StepEnd(int step, int result, uint32_t nowMs) {
    std::lock_guard<std::mutex> lock(mutex_);
    // One run has one result: whatever the engine reports after it belongs to no step shown.
    if (runEnded_) return;
    if (step == StepFinished) runEnded_ = true;
    bar_ = 100;
    percentText_.clear();
    waitText_.clear();
    std::wstring text = StepEndText(step, result);
    if (step == StepFinished) text += L"  " + ElapsedText(nowMs - startMs_);
    WriteLine(text);
    lastDecile_ = -1;
    step_ = 0;
}

void CProgressView::Waiting(uint32_t leftMs, uint32_t totalMs, uint32_t nowMs) {
    std::lock_guard<std::mutex> lock(mutex_);
    leftMs = std::min(leftMs, totalMs);
    std::wstring text = FirmwarePauseText(leftMs);
    if (text == waitText_) return;
    waitText_ = std::move(text);
    bar_ = totalMs == 0 ? 100 : static_cast<unsigned>((uint64_t{totalMs - leftMs} * 100) / totalMs);
    percentText_.clear();
    if (mode_ == Mode::Terminal)
        Redraw(nowMs);
    else
        WriteLine(waitText_);
}

void CProgressView::Notice(const std::wstring& text, uint32_t nowMs) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (runEnded_) return;
    const bool redraw = lineOpen_;
    WriteLine(text);
    if (redraw) Redraw(nowMs);
}

void CProgressView::Tick(uint32_t nowMs) {
    std::lock_guard<std::mutex> lock(mutex_);
    // Only the clock moves here; redraw when its seconds change.
    if (mode_ == Mode::Terminal && lineOpen_ && (nowMs - startMs_) / 1000 != (drawnMs_ - startMs_) / 1000)
        Redraw(nowMs);
}
