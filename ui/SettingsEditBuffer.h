// SettingsEditBuffer: the process's edited copy of the device's 73-byte settings block. All zero at
// start; filled from the engine when the device reports its settings, changed by the settings
// window's OK, and handed to the engine by the main window when a run starts. UI thread only.
#pragma once

#include <array>
#include <cstdint>

#include "protocol/IspCodes.h"

using SettingsBlock = std::array<uint8_t, SETTINGS_BLOCK_SIZE>;

extern SettingsBlock SettingsEditBuffer;
