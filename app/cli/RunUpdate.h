// iap-cli's main job: connect, show versions, run one update of every image present, summarise.
#pragma once

#include <cstdio>
#include <string>

#include "app/cli/CliOptions.h"

class CInterruptWatch;

// Returns the exit status (EXIT_RUN_OK, EXIT_RUN_FAILED, EXIT_NO_DEVICE, EXIT_USAGE). Progress goes to
// `out`, every failure as one clear line (or block) to `err`. The update files are checked with the
// engine's readers before any port is opened: a refused file ends it there (EXIT_RUN_FAILED). An
// interrupt ends every wait at once with EXIT_RUN_FAILED; after one, no run is started, and a run in
// progress is stopped.
int RunUpdate(const CliOptions& options, std::FILE* out, std::FILE* err, CInterruptWatch& interrupts);
