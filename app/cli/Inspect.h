// iap-cli --inspect: what the update files in a folder hold and what they will put on the wire.
// No device is needed.
#pragma once

#include <cstdio>
#include <string>

// Writes the report for `folder` (ending in '/') to `out`: each file's state, with the reason of a
// refused one as a run would give it. 0 when the folder could be read and no file is refused, else 1.
int InspectFolder(const std::string& folder, std::FILE* out);
