// Shows an update run on the command line. On a terminal: one redrawn line per step with a bar, the
// percentage, the step text and the elapsed time; each finished step leaves its text on a line of its
// own. Otherwise plain lines: one at each step start and end and at most one progress line per 10 %,
// so logs stay small.
// Thread-safe: engine threads report steps and packets while the main thread ticks the clock.
#pragma once

#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>

class CProgressView {
public:
    enum class Mode { Terminal, Plain };
    static constexpr int kBarWidth = 30;

    CProgressView(std::FILE* out, Mode mode);

    void RunStarted(uint32_t nowMs);
    void StepBegin(int step, unsigned total, uint32_t nowMs);
    void Packet(unsigned total, unsigned sent, uint32_t nowMs);
    void StepEnd(int step, int result, uint32_t nowMs);
    // The device restarts after its firmware: a countdown in place of the step text, with the bar
    // filling as the pause runs out (plain mode: one line per second shown).
    void Waiting(uint32_t leftMs, uint32_t totalMs, uint32_t nowMs);
    // A line of its own for something the user should know while the run goes on (a slow adapter);
    // on a terminal the progress line is drawn again below it. Nothing once the run has ended.
    void Notice(const std::wstring& text, uint32_t nowMs);
    // Redraws the terminal line so the clock moves while nothing else happens (no-op in plain mode).
    void Tick(uint32_t nowMs);

    // The terminal line as it would be drawn now (without the leading carriage return).
    std::wstring TerminalLine(uint32_t nowMs) const;

private:
    void Redraw(uint32_t nowMs);
    void WriteLine(const std::wstring& text);
    void Write(const std::wstring& text);

    std::FILE* out_;
    const Mode mode_;
    mutable std::mutex mutex_;
    uint32_t startMs_ = 0;
    int step_ = 0;
    unsigned bar_ = 0;
    std::wstring percentText_;
    std::wstring waitText_;  // the countdown, shown instead of the step text while not empty
    int lastDecile_ = -1;
    bool runEnded_ = false;  // the run's result has been shown; nothing more until the next run
    bool lineOpen_ = false;
    uint32_t drawnMs_ = 0;  // when the terminal line was last drawn
};
