// Which step of a run a command belongs to, and which commands end an image without an answer.
#pragma once

#include <cstdint>

// The step a queued command belongs to; StepNone for the connect-time commands, which belong to no run.
int StepOfCommand(uint8_t cmd);
// True for the end commands of the four images the device never confirms (0x20, 0x30, 0x3A, 0x40).
bool IsUnansweredImageEnd(uint8_t cmd);
