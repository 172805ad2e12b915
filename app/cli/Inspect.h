// iap-cli --inspect: what the update files in a folder hold and what they will put on the wire.
// No device is needed.
#pragma once

#include <cstdio>
#include <string>

// Writes the report for `folder` (ending in '/') to `out`. 0 when the folder could be read, 1 when not.
int InspectFolder(const std::string& folder, std::FILE* out);
