// The two 73-byte blocks the simulated device reports: its settings ('G') and its settings
// information ('I'), built in or read from a file.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "protocol/IspCodes.h"

using SimSettingsBlock = std::array<uint8_t, SETTINGS_BLOCK_SIZE>;

// Deterministic defaults. Every byte the settings window binds holds a valid item index or check
// state; the two blocks differ in those bytes, so restoring either one is visible.
SimSettingsBlock DefaultSettingsBlock();
SimSettingsBlock DefaultSettingsInfoBlock();

// Reads a block from a file that must hold exactly 73 bytes. Returns 1, or 0 with a reason.
int LoadSettingsBlock(const std::string& path, SimSettingsBlock& block, std::string& error);
