// iap-cli's main job: connect, show versions, run one update of every image present, summarise.
#pragma once

#include <atomic>
#include <cstdio>
#include <string>

#include "app/cli/CliOptions.h"

// Returns the exit status (EXIT_RUN_OK, EXIT_RUN_FAILED, EXIT_NO_DEVICE, EXIT_USAGE). Progress goes to
// `out`, every failure as one clear line (or block) to `err`. `interrupted` ends the wait early.
int RunUpdate(const CliOptions& options, std::FILE* out, std::FILE* err, const std::atomic<bool>& interrupted);

// The folder of the running program, ending in '/'.
std::string ProgramFolder();
// `folder` with a trailing '/'.
std::string WithSeparator(const std::string& folder);
