// The command line's receiver of the engine messages. The engine sends each message synchronously on
// its own threads; this window handles it directly (it never waits for an engine thread) and wakes
// the main thread, which waits for the states below.
#pragma once

#include <array>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>

#include "app/cli/ProgressView.h"
#include "engine/NotifyWindow.h"
#include "engine/UpdateStep.h"

// Bytes the engine has put on the line and taken from it so far (counters that only grow).
struct LineBytes {
    uint64_t sent = 0;
    uint64_t received = 0;
};

class CCliWindow : public CNotifyWindow {
public:
    explicit CCliWindow(CProgressView* view);

    // Read at each step's begin and end, on the engine thread that reports it; set it before the
    // engine starts. Without one, StepLineBytes stays zero.
    void SetLineCounter(std::function<LineBytes()> counter);

    intptr_t Send(uint32_t message, NotifyWParam wParam, NotifyLParam lParam) override;

    // Start of the run (for the elapsed time); the view prints the start line.
    void RunStarted();

    // Ends every wait at once, now and later (any thread; Ctrl-C's watch calls it).
    void Interrupt();
    bool Interrupted() const;

    // Each wait returns true when its state was reached, false on timeout or interrupt.
    bool WaitForReady(uint32_t timeoutMs);
    bool WaitForSettings(int count, uint32_t timeoutMs);
    // Waits until StepFinished ended or an interrupt came; ticks the clock meanwhile.
    bool WaitForRunEnd();

    int RunResult() const;
    // Milliseconds each step took (first begin to end), 0 when it did not run.
    uint32_t StepMs(int step) const;
    bool StepRan(int step) const;
    int StepResult(int step) const;
    // What the step put on the line in each direction between its begin and its end.
    LineBytes StepLineBytes(int step) const;

private:
    template <typename Pred>
    bool WaitFor(uint32_t timeoutMs, Pred pred);

    LineBytes CountNow() const { return lineCounter_ ? lineCounter_() : LineBytes{}; }

    CProgressView* view_;
    std::function<LineBytes()> lineCounter_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    bool interrupted_ = false;
    bool ready_ = false;
    int settingsAnswers_ = 0;
    bool finished_ = false;
    int runResult_ = 0;
    uint32_t lastEndMs_ = 0;  // the start of the run, then the end of the step that ended last
    std::array<uint32_t, kStepLimit> stepBeginMs_{};
    std::array<uint32_t, kStepLimit> stepEndMs_{};
    std::array<bool, kStepLimit> stepBegun_{};
    std::array<bool, kStepLimit> stepEnded_{};
    std::array<int, kStepLimit> stepResult_{};
    LineBytes lastEndBytes_{};
    std::array<LineBytes, kStepLimit> stepBeginBytes_{};
    std::array<LineBytes, kStepLimit> stepEndBytes_{};
};
