// The command line of iap-cli. Outside scripts rely on these options and on the exit statuses.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

constexpr int EXIT_RUN_OK = 0;
constexpr int EXIT_RUN_FAILED = 1;
constexpr int EXIT_NO_DEVICE = 2;
constexpr int EXIT_USAGE = 64;

struct CliOptions {
    enum class Mode { Update, Inspect, ListPorts, Help };
    Mode mode = Mode::Update;
    std::vector<std::string> ports;   // --port, in order: port 1, 2, ... (paths on POSIX, COM names on Windows)
    std::string folder;               // --folder, UTF-8 as given; empty means the program's folder
    std::string settingsFile;         // --settings: the edited 73-byte block
    std::string saveSettingsFile;     // --save-settings: where to keep the block as read
    std::string traceFile;            // --trace FILE, or "-" for standard output
    int64_t firmwarePauseMs = -1;     // --firmware-pause-ms; -1 keeps the engine's default
    // --test-wait-slice-ms, left out of --help: end-to-end tests shorten the sender's wait slice, so a
    // lost answer ends a run in a fraction of the 15 s a user waits. -1 keeps the engine's default.
    int64_t waitSliceMs = -1;
    bool plainProgress = false;       // --plain: plain lines even on a terminal
    int64_t waitDeviceSeconds = 0;    // --wait-device: keep looking this long; 0 = one scan
};

struct ParseResult {
    bool ok = false;
    std::string error;  // for the user, when !ok
    CliOptions options;
};

// `args` are the UTF-8 arguments after the program name (CommandLineArgs).
ParseResult ParseCliOptions(const std::vector<std::string>& args);

// The --help text.
std::wstring CliUsage();
