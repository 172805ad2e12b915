#include "ui/SettingsEditBuffer.h"

SettingsBlock SettingsEditBuffer{};
