// The texts and numbers a user reads about an update run: the main window shows them, and the command
// line shows the same. Plain C++ (no Qt), so every front end can use it.
#pragma once

#include <cstdint>
#include <string>

// Status text while an image step or the settings step runs; empty for any other step.
std::wstring StepText(int step);
// Text shown when an image step, the settings step or the run (step 7) ends with `result` (0 =
// success); empty for any other step.
std::wstring StepEndText(int step, int result);
// The progress bar never shows less than 6 while packets flow; the text shows the true percentage.
unsigned StepPercent(unsigned total, unsigned sent);
unsigned BarValue(unsigned percent);
// The percentage as the label shows it, "%d%%".
std::wstring PercentText(unsigned percent);
// "Время обновления: hh:mm:ss" for an elapsed time in milliseconds (hours wrap at 60).
std::wstring ElapsedText(uint32_t elapsedMs);
// The status of a run that failed: the text of the step that failed (empty: the run as a whole), then
// the reason the engine gave, "Не удалось обновить базу камер! Причина: связь с устройством потеряна".
std::wstring FailedRunText(const std::wstring& failedStepText, const std::wstring& reason);
// The device is there, but `folder` holds no update file: nothing to send.
std::wstring NoUpdateFilesText(const std::wstring& folder);
// The pause after the firmware while the device restarts, with the whole seconds left.
std::wstring FirmwarePauseText(uint32_t leftMs);
// While a run looks for its device again after the restart that follows the firmware.
std::wstring RestartSearchText();
// The device's answers come about `delayMs` later than the line needs: a USB adapter holds each one for
// its latency timer. Says so and how to lower it; the run goes on meanwhile.
std::wstring SlowAdapterText(uint32_t delayMs);
// How to lower a USB adapter's latency timer on this system (LatencyTimerSteps_posix.cpp, _win32.cpp).
std::wstring LatencyTimerSteps();
