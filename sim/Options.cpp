#include "sim/Options.h"

#include <functional>

#include "sim/FaultSeed.h"

namespace {

constexpr unsigned long kMaxDelayMs = 600000;
constexpr unsigned long kMaxBaud = 12000000;

struct ValueOption {
    const char* name;
    std::function<int(const std::string&, SimOptions&, std::string&)> apply;
};

int ParseVersion(const std::string& value, uint16_t& out, std::string& error, const char* name) {
    unsigned long parsed = 0;
    if (!ParseUnsigned(value, 0, 0xFFFF, parsed)) {
        error = std::string(name) + " needs a number 0..65535 (decimal or 0x hex), got '" + value + "'";
        return 0;
    }
    out = static_cast<uint16_t>(parsed);
    return 1;
}

int ParseMs(const std::string& value, unsigned& out, std::string& error, const char* name) {
    unsigned long parsed = 0;
    if (!ParseUnsigned(value, 0, kMaxDelayMs, parsed)) {
        error = std::string(name) + " needs milliseconds 0..600000, got '" + value + "'";
        return 0;
    }
    out = static_cast<unsigned>(parsed);
    return 1;
}

int NonEmpty(const std::string& value, std::string& out, std::string& error, const char* name) {
    if (value.empty()) {
        error = std::string(name) + " needs a non-empty path";
        return 0;
    }
    out = value;
    return 1;
}

// Seconds with up to three decimals ("0.3", "2"), as milliseconds within kMaxDelayMs.
int ParseSeconds(const std::string& text, unsigned& ms) {
    const size_t dot = text.find('.');
    const std::string whole = text.substr(0, dot);
    std::string fraction = dot == std::string::npos ? std::string() : text.substr(dot + 1);
    if (whole.empty() || fraction.size() > 3 || (dot != std::string::npos && fraction.empty())) return 0;
    if (whole.size() > 1 && (whole[1] == 'x' || whole[1] == 'X')) return 0;
    unsigned long seconds = 0;
    unsigned long thousandths = 0;
    if (!ParseUnsigned(whole, 0, kMaxDelayMs / 1000, seconds)) return 0;
    fraction.resize(3, '0');
    if (!ParseUnsigned(fraction, 0, 999, thousandths)) return 0;
    const unsigned long total = seconds * 1000 + thousandths;
    if (total > kMaxDelayMs) return 0;
    ms = static_cast<unsigned>(total);
    return 1;
}

int ParseRestartReopen(const std::string& value, SimOptions& o, std::string& error) {
    const size_t comma = value.find(',');
    if (comma == std::string::npos || !ParseSeconds(value.substr(0, comma), o.restartCloseMs) ||
        !ParseSeconds(value.substr(comma + 1), o.restartAwayMs)) {
        error = "--restart-reopen needs CLOSE,AWAY in seconds (like 0.3,2), got '" + value + "'";
        return 0;
    }
    o.restartReopen = true;
    return 1;
}

// "N" (the N-th frame of any code) or "CMD@N".
int ParseStopReading(const std::string& value, SimOptions& o, std::string& error) {
    if (value.find('@') == std::string::npos) {
        unsigned long frame = 0;
        if (!ParseUnsigned(value, 1, 0xFFFFFFFFUL, frame)) {
            error = "--stop-reading-after needs N >= 1 or CMD@N, got '" + value + "'";
            return 0;
        }
        o.faults.Add(FaultRule{FaultKind::StopReadingAtFrame, 0, static_cast<unsigned>(frame)});
        return 1;
    }
    uint8_t cmd = 0;
    unsigned ordinal = 0;
    if (!ParseFaultSpec(value, cmd, ordinal, error)) {
        error = "--stop-reading-after: " + error;
        return 0;
    }
    o.faults.Add(FaultRule{FaultKind::StopReading, cmd, ordinal});
    return 1;
}

std::function<int(const std::string&, SimOptions&, std::string&)> Fault(FaultKind kind,
                                                                      const char* name) {
    return [kind, name](const std::string& value, SimOptions& o, std::string& error) {
        uint8_t cmd = 0;
        unsigned ordinal = 0;
        if (!ParseFaultSpec(value, cmd, ordinal, error)) {
            error = std::string(name) + ": " + error;
            return 0;
        }
        o.faults.Add(FaultRule{kind, cmd, ordinal});
        return 1;
    };
}

const std::vector<ValueOption>& ValueOptions() {
    static const std::vector<ValueOption> table = {
        {"--link", [](const std::string& v, SimOptions& o, std::string& e) { return NonEmpty(v, o.linkPath, e, "--link"); }},
        {"--link-delay-ms", [](const std::string& v, SimOptions& o, std::string& e) { return ParseMs(v, o.linkDelayMs, e, "--link-delay-ms"); }},
        {"--restart-reopen", ParseRestartReopen},
        {"--stop-reading-after", ParseStopReading},
        {"--device", [](const std::string& v, SimOptions& o, std::string& e) { return NonEmpty(v, o.devicePath, e, "--device"); }},
        {"--out", [](const std::string& v, SimOptions& o, std::string& e) { return NonEmpty(v, o.outDir, e, "--out"); }},
        {"--make-samples", [](const std::string& v, SimOptions& o, std::string& e) { return NonEmpty(v, o.makeSamplesDir, e, "--make-samples"); }},
        {"--settings", [](const std::string& v, SimOptions& o, std::string& e) { return NonEmpty(v, o.settingsFile, e, "--settings"); }},
        {"--settings-info", [](const std::string& v, SimOptions& o, std::string& e) { return NonEmpty(v, o.settingsInfoFile, e, "--settings-info"); }},
        {"--baud", [](const std::string& v, SimOptions& o, std::string& e) {
             unsigned long baud = 0;
             if (!ParseUnsigned(v, 50, kMaxBaud, baud)) {
                 e = "--baud needs a rate 50..12000000, got '" + v + "'";
                 return 0;
             }
             o.baud = static_cast<unsigned>(baud);
             return 1;
         }},
        {"--fw-version", [](const std::string& v, SimOptions& o, std::string& e) { return ParseVersion(v, o.firmwareVersion, e, "--fw-version"); }},
        {"--data-version", [](const std::string& v, SimOptions& o, std::string& e) { return ParseVersion(v, o.dataVersion, e, "--data-version"); }},
        {"--radar-version", [](const std::string& v, SimOptions& o, std::string& e) { return ParseVersion(v, o.radarVersion, e, "--radar-version"); }},
        {"--delay-ms", [](const std::string& v, SimOptions& o, std::string& e) { return ParseMs(v, o.delayMs, e, "--delay-ms"); }},
        {"--probe-delay-ms", [](const std::string& v, SimOptions& o, std::string& e) { return ParseMs(v, o.probeDelayMs, e, "--probe-delay-ms"); }},
        {"--no-answer", Fault(FaultKind::NoAnswer, "--no-answer")},
        {"--reject", Fault(FaultKind::Reject, "--reject")},
        {"--corrupt", Fault(FaultKind::Corrupt, "--corrupt")},
        {"--duplicate", Fault(FaultKind::Duplicate, "--duplicate")},
        {"--notice-after", Fault(FaultKind::NoticeAfter, "--notice-after")},
        {"--hangup", Fault(FaultKind::HangUp, "--hangup")},
        {"--seed", [](const std::string& v, SimOptions& o, std::string& e) {
             unsigned long seed = 0;
             if (!ParseUnsigned(v, 0, 0xFFFFFFFFUL, seed)) {
                 e = "--seed needs a number 0..4294967295, got '" + v + "'";
                 return 0;
             }
             o.hasSeed = true;
             o.seed = static_cast<uint32_t>(seed);
             return 1;
         }},
        {"--stray-answer", Fault(FaultKind::StrayAnswer, "--stray-answer")},
        {"--dup-then-refuse", Fault(FaultKind::DupThenRefuse, "--dup-then-refuse")},
        {"--short-settings", [](const std::string& v, SimOptions& o, std::string& e) {
             unsigned long bytes = 0;
             // The answer's length byte counts the whole frame: 6 bytes besides the block.
             if (!ParseUnsigned(v, 0, 249, bytes)) {
                 e = "--short-settings needs a block length 0..249, got '" + v + "'";
                 return 0;
             }
             o.faults.shortSettingsBytes = static_cast<int>(bytes);
             return 1;
         }},
        {"--info-echo", [](const std::string& v, SimOptions& o, std::string& e) {
             unsigned long byte = 0;
             if (!ParseUnsigned(v, 0, 0xFF, byte)) {
                 e = "--info-echo needs a byte 0x00..0xFF, got '" + v + "'";
                 return 0;
             }
             o.faults.infoEcho = static_cast<int>(byte);
             return 1;
         }},
    };
    return table;
}

struct FlagOption {
    const char* name;
    bool SimOptions::*field;
};

constexpr FlagOption kFlags[] = {
    {"--exit-after-finish", &SimOptions::exitAfterFinish},
    {"--silent", &SimOptions::silent},
    {"--split", &SimOptions::split},
    {"--junk", &SimOptions::junk},
    {"--probe-junk", &SimOptions::probeJunk},
    {"--help", &SimOptions::help},
};

bool* FlagField(const std::string& name, SimOptions& o) {
    if (name == "-h") return &o.help;
    for (const FlagOption& flag : kFlags) {
        if (name == flag.name) return &(o.*flag.field);
    }
    return nullptr;
}

int ApplyArgs(const std::vector<std::string>& args, SimOptions& options, std::string& error) {
    for (size_t i = 0; i < args.size(); ++i) {
        std::string name = args[i];
        std::string value;
        bool hasInlineValue = false;
        const size_t eq = name.find('=');
        if (name.rfind("--", 0) == 0 && eq != std::string::npos) {
            value = name.substr(eq + 1);
            name = name.substr(0, eq);
            hasInlineValue = true;
        }
        if (bool* flag = FlagField(name, options)) {
            if (hasInlineValue) {
                error = name + " takes no value";
                return 0;
            }
            *flag = true;
            continue;
        }
        const ValueOption* option = nullptr;
        for (const ValueOption& candidate : ValueOptions()) {
            if (name == candidate.name) option = &candidate;
        }
        if (option == nullptr) {
            error = "unknown option '" + args[i] + "' (see --help)";
            return 0;
        }
        if (!hasInlineValue) {
            if (i + 1 >= args.size()) {
                error = name + " needs a value";
                return 0;
            }
            value = args[++i];
        }
        if (!option->apply(value, options, error)) return 0;
    }
    return 1;
}

}  // namespace

int ParseOptions(const std::vector<std::string>& args, SimOptions& options, std::string& error) {
    if (!ApplyArgs(args, options, error)) return 0;
    if (options.hasSeed) {
        // Through the same table as typed options, so the printed options are exactly what applies.
        options.seedArgs = SeedFaultArgs(options.seed);
        if (!ApplyArgs(options.seedArgs, options, error)) {
            error = "--seed " + std::to_string(options.seed) + ": " + error;
            return 0;
        }
    }
    if (!options.devicePath.empty() && !options.linkPath.empty()) {
        error = "--link applies to the pseudo-terminal only, not to --device";
        return 0;
    }
    // A new pty has a new slave path; only the link stays the same, as a USB device's name does.
    if (options.restartReopen && options.linkPath.empty()) {
        error = "--restart-reopen needs --link (the path that goes away and comes back)";
        return 0;
    }
    return 1;
}

std::vector<std::string> OptionNames() {
    std::vector<std::string> names;
    for (const ValueOption& option : ValueOptions()) names.emplace_back(option.name);
    for (const FlagOption& flag : kFlags) names.emplace_back(flag.name);
    return names;
}

std::string UsageText() {
    return
        "Usage: iap-devsim [options]\n"
        "Plays the device side of the IAP serial line. Without --device it creates a pseudo-terminal\n"
        "and prints its slave path as the first line of standard output.\n"
        "\n"
        "Line:\n"
        "  --link PATH            also make a symlink PATH to the pty slave (removed on exit)\n"
        "  --link-delay-ms N      make the --link only N ms after the start, as a device plugged in\n"
        "                         later (the pty path is printed at once)\n"
        "  --device PATH          use this serial device (raw, 256000 baud where possible)\n"
        "  --restart-reopen CLOSE,AWAY\n"
        "                         after answering the firmware end, restart as a re-enumerating USB\n"
        "                         device: the port goes away CLOSE s later and comes back AWAY s\n"
        "                         after that, a new pty under the same --link (needs --link)\n"
        "  --stop-reading-after N|CMD@N\n"
        "                         after the N-th frame (or the N-th CMD frame) answer it and the\n"
        "                         next 8 frames of its kind ahead of time, then read nothing more,\n"
        "                         so what the tool writes fills the line's buffer\n"
        "  --baud N               pace both directions like an 8N1 line at N baud\n"
        "                         (with --device: the line speed; the device paces itself)\n"
        "Device:\n"
        "  --fw-version N         firmware version in the 0x46 answer (default 12)\n"
        "  --data-version N       data version in the 0x46 answer (default 256)\n"
        "  --radar-version N      radar firmware version in the 0x46 answer (default 0x1a2b)\n"
        "  --settings FILE        73-byte device settings block for 'G'\n"
        "  --settings-info FILE   73-byte settings information block for 'I'\n"
        "Recording:\n"
        "  --out DIR              write received images, settings, frames.log and summary.txt\n"
        "  --exit-after-finish    exit 0 when the run has ended: 1 s without traffic after a\n"
        "                         settings write or an image end (11 s after the firmware end)\n"
        "Faults (CMD in hex like 0x23, N counts frames with that code from 1):\n"
        "  --silent               never answer anything\n"
        "  --no-answer CMD@N      lose the answer to the N-th CMD frame (repeatable)\n"
        "  --reject CMD@N         refuse the N-th CMD frame with a non-accepted status\n"
        "  --corrupt CMD@N        answer the N-th CMD frame with a bad checksum\n"
        "  --duplicate CMD@N      send the answer to the N-th CMD frame twice\n"
        "  --notice-after CMD@N   send a 0x1B notice after answering the N-th CMD frame\n"
        "  --hangup CMD@N         go away after receiving the N-th CMD frame: no answer, the --out\n"
        "                         files are written, the line is closed (the tool's end of a pty\n"
        "                         sees a hang-up) and the simulator exits 0\n"
        "  --split                write every answer in 1-byte pieces about 1 ms apart\n"
        "  --junk                 prefix every answer but those to 'E' with junk bytes\n"
        "                         including a false 0xAC\n"
        "  --probe-junk           put the same junk before the answers to 'E', as a stray byte\n"
        "                         from an adapter at open would\n"
        "  --stray-answer CODE@N  send an answer CODE nobody asked for before the answers to the\n"
        "                         N-th frame received (of any code, from 1)\n"
        "  --dup-then-refuse CMD@N  send the answer to the N-th CMD frame twice, then refuse the\n"
        "                         next CMD frame\n"
        "  --short-settings LEN   settings answers carry LEN block bytes instead of 73\n"
        "  --info-echo BYTE       the device-information answer echoes BYTE instead of 0x45\n"
        "  --delay-ms N           delay every answer by N ms\n"
        "  --probe-delay-ms N     delay only the answers to 'E' by N ms\n"
        "  --seed N               add a reproducible random mix of the faults above at random\n"
        "                         frames of a run of the --make-samples set (0..3 frame faults,\n"
        "                         each line fault one time in four); the same N always gives the\n"
        "                         same faults. The equivalent options go to standard error and\n"
        "                         into summary.txt (\"seed_faults\"), so a run can be replayed by\n"
        "                         hand; a delay the seed draws replaces one given\n"
        "Other:\n"
        "  --make-samples DIR     write a deterministic set of update files to DIR and exit\n"
        "  --help                 show this text\n";
}
