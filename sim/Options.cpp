#include "sim/Options.h"

#include <functional>
#include <utility>

#include "base/OptionSet.h"
#include "sim/FaultSeed.h"

namespace {

constexpr unsigned long kMaxDelayMs = 600000;
constexpr unsigned long kMaxBaud = 12000000;

// The simulator's users are the developers and the tests of the tool: it speaks English.
OptionWords SimWords() {
    OptionWords words;
    words.usage = "Usage:";
    words.options = "Options";
    words.unknown = "unknown option '{}' (see --help)";
    words.needsValue = "{} needs a value";
    words.emptyValue = "{} needs a non-empty value";
    words.takesNoValue = "{} takes no value";
    words.other = "bad command line: {}";
    return words;
}

// A number, decimal or 0x hex, from `low` to `high`, handed to `store`; else "NAME needs EXPECTED".
CLI::Option* Unsigned(COptionSet& set, const std::string& name, unsigned long low, unsigned long high,
                      const std::string& expected, std::function<void(unsigned long)> store,
                      const std::string& valueName, const std::string& help) {
    return set.Value(name, [name, low, high, expected, store = std::move(store)](const std::string& value) {
        unsigned long parsed = 0;
        if (!ParseUnsigned(value, low, high, parsed)) return name + " needs " + expected + ", got '" + value + "'";
        store(parsed);
        return std::string();
    }, valueName, help);
}

void Millis(COptionSet& set, const std::string& name, unsigned& into, const std::string& help) {
    Unsigned(set, name, 0, kMaxDelayMs, "milliseconds 0..600000", [&into](unsigned long ms) {
        into = static_cast<unsigned>(ms);
    }, "N", help);
}

void Version(COptionSet& set, const std::string& name, uint16_t& into, const std::string& help) {
    Unsigned(set, name, 0, 0xFFFF, "a number 0..65535 (decimal or 0x hex)", [&into](unsigned long version) {
        into = static_cast<uint16_t>(version);
    }, "N", help);
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

COptionSet::Taker RestartReopen(SimOptions& o) {
    return [&o](const std::string& value) {
        const size_t comma = value.find(',');
        if (comma == std::string::npos || !ParseSeconds(value.substr(0, comma), o.restartCloseMs) ||
            !ParseSeconds(value.substr(comma + 1), o.restartAwayMs))
            return "--restart-reopen needs CLOSE,AWAY in seconds (like 0.3,2), got '" + value + "'";
        o.restartReopen = true;
        return std::string();
    };
}

// "N" (the N-th frame of any code) or "CMD@N".
COptionSet::Taker StopReading(SimOptions& o) {
    return [&o](const std::string& value) {
        if (value.find('@') == std::string::npos) {
            unsigned long frame = 0;
            if (!ParseUnsigned(value, 1, 0xFFFFFFFFUL, frame))
                return "--stop-reading-after needs N >= 1 or CMD@N, got '" + value + "'";
            o.faults.Add(FaultRule{FaultKind::StopReadingAtFrame, 0, static_cast<unsigned>(frame)});
            return std::string();
        }
        uint8_t cmd = 0;
        unsigned ordinal = 0;
        std::string error;
        if (!ParseFaultSpec(value, cmd, ordinal, error)) return "--stop-reading-after: " + error;
        o.faults.Add(FaultRule{FaultKind::StopReading, cmd, ordinal});
        return std::string();
    };
}

// A repeatable frame fault: every "CMD@N" given adds a rule of `kind`.
void Fault(COptionSet& set, SimOptions& o, const std::string& name, FaultKind kind, const std::string& valueName,
           const std::string& help) {
    set.Value(name, [&o, name, kind](const std::string& value) {
        uint8_t cmd = 0;
        unsigned ordinal = 0;
        std::string error;
        if (!ParseFaultSpec(value, cmd, ordinal, error)) return name + ": " + error;
        o.faults.Add(FaultRule{kind, cmd, ordinal});
        return std::string();
    }, valueName, help)->take_all();
}

// Every option of iap-devsim, filling `o`; the help lists them in this order.
void Declare(COptionSet& set, SimOptions& o) {
    set.Group("Line");
    set.Value("--link", o.linkPath, "PATH", "also make a symlink PATH to the pty slave (removed on exit)");
    Millis(set, "--link-delay-ms", o.linkDelayMs,
           "make the --link only N ms after the start, as a device plugged in\n"
           "later (the pty path is printed at once)");
    set.Value("--device", o.devicePath, "PATH", "use this serial device (raw, 256000 baud where possible)");
    set.Value("--restart-reopen", RestartReopen(o), "CLOSE,AWAY",
              "after answering the firmware end, restart as a re-enumerating USB\n"
              "device: the port goes away CLOSE s later and comes back AWAY s\n"
              "after that, a new pty under the same --link (needs --link)");
    set.Value("--stop-reading-after", StopReading(o), "N|CMD@N",
              "after the N-th frame (or the N-th CMD frame) answer it and the\n"
              "next 8 frames of its kind ahead of time, then read nothing more,\n"
              "so what the tool writes fills the line's buffer")
        ->take_all();
    Unsigned(set, "--baud", 50, kMaxBaud, "a rate 50..12000000", [&o](unsigned long baud) {
        o.baud = static_cast<unsigned>(baud);
    }, "N", "pace both directions like an 8N1 line at N baud\n"
            "(with --device: the line speed; the device paces itself)");

    set.Group("Device");
    Version(set, "--fw-version", o.firmwareVersion, "firmware version in the 0x46 answer (default 12)");
    Version(set, "--data-version", o.dataVersion, "data version in the 0x46 answer (default 256)");
    Version(set, "--radar-version", o.radarVersion, "radar firmware version in the 0x46 answer (default 0x1a2b)");
    set.Value("--settings", o.settingsFile, "FILE", "73-byte device settings block for 'G'");
    set.Value("--settings-info", o.settingsInfoFile, "FILE", "73-byte settings information block for 'I'");

    set.Group("Recording");
    set.Value("--out", o.outDir, "DIR", "write received images, settings, frames.log and summary.txt");
    set.Flag("--exit-after-finish", o.exitAfterFinish,
             "exit 0 when the run has ended: 1 s without traffic after a\n"
             "settings write or an image end (11 s after the firmware end)");

    set.Group("Faults (CMD in hex like 0x23, N counts frames with that code from 1)");
    set.Flag("--silent", o.silent, "never answer anything");
    Fault(set, o, "--no-answer", FaultKind::NoAnswer, "CMD@N", "lose the answer to the N-th CMD frame");
    Fault(set, o, "--reject", FaultKind::Reject, "CMD@N", "refuse the N-th CMD frame with a non-accepted status");
    Fault(set, o, "--corrupt", FaultKind::Corrupt, "CMD@N", "answer the N-th CMD frame with a bad checksum");
    Fault(set, o, "--duplicate", FaultKind::Duplicate, "CMD@N", "send the answer to the N-th CMD frame twice");
    Fault(set, o, "--notice-after", FaultKind::NoticeAfter, "CMD@N",
          "send a 0x1B notice after answering the N-th CMD frame");
    Fault(set, o, "--hangup", FaultKind::HangUp, "CMD@N",
          "go away after receiving the N-th CMD frame: no answer, the --out\n"
          "files are written, the line is closed (the tool's end of a pty\n"
          "sees a hang-up) and the simulator exits 0");
    set.Flag("--split", o.split, "write every answer in 1-byte pieces about 1 ms apart");
    set.Flag("--junk", o.junk,
             "prefix every answer but those to 'E' with junk bytes including a\n"
             "false 0xAC");
    set.Flag("--probe-junk", o.probeJunk,
             "put the same junk before the answers to 'E', as a stray byte from an\n"
             "adapter at open would");
    Fault(set, o, "--stray-answer", FaultKind::StrayAnswer, "CODE@N",
          "send an answer CODE nobody asked for before the answers to the N-th\n"
          "frame received (of any code, from 1)");
    Fault(set, o, "--dup-then-refuse", FaultKind::DupThenRefuse, "CMD@N",
          "send the answer to the N-th CMD frame twice, then refuse the next\n"
          "CMD frame");
    // The answer's length byte counts the whole frame: 6 bytes besides the block.
    Unsigned(set, "--short-settings", 0, 249, "a block length 0..249", [&o](unsigned long bytes) {
        o.faults.shortSettingsBytes = static_cast<int>(bytes);
    }, "LEN", "settings answers carry LEN block bytes instead of 73");
    Unsigned(set, "--info-echo", 0, 0xFF, "a byte 0x00..0xFF", [&o](unsigned long byte) {
        o.faults.infoEcho = static_cast<int>(byte);
    }, "BYTE", "the device-information answer echoes BYTE instead of 0x45");
    Millis(set, "--delay-ms", o.delayMs, "delay every answer by N ms");
    Millis(set, "--probe-delay-ms", o.probeDelayMs, "delay only the answers to 'E' by N ms");
    Unsigned(set, "--seed", 0, 0xFFFFFFFFUL, "a number 0..4294967295", [&o](unsigned long seed) {
        o.hasSeed = true;
        o.seed = static_cast<uint32_t>(seed);
    }, "N",
             "add a reproducible random mix of the faults above at random frames\n"
             "of a run of the --make-samples set (0..3 frame faults, each line\n"
             "fault one time in four); the same N always gives the same faults.\n"
             "The equivalent options go to standard error and into summary.txt\n"
             "(\"seed_faults\"), so a run can be replayed by hand; a delay the\n"
             "seed draws replaces one given");

    set.Group("Other");
    set.Value("--make-samples", o.makeSamplesDir, "DIR", "write a deterministic set of update files to DIR and exit");
    set.Flag("--help,-h", o.help, "show this text");

    set.Footer("Exit status:\n"
               "  0   stopped (SIGINT, SIGTERM), the run has finished (--exit-after-finish), hung up as\n"
               "      asked (--hangup), the samples are written (--make-samples), or --help\n"
               "  1   the line, the --link, the --out folder or the samples cannot be made, or the line failed\n"
               "  64  a bad command line, or a --settings or --settings-info block missing or not 73 bytes\n");
}

COptionSet SimOptionSet() {
    return COptionSet("iap-devsim",
                      "iap-devsim: plays the device side of the IAP serial line. Without --device it creates a\n"
                      "pseudo-terminal and prints its slave path as the first line of standard output.",
                      COptionSet::Others::Refuse, SimWords());
}

int ApplyArgs(const std::vector<std::string>& args, SimOptions& options, std::string& error) {
    COptionSet set = SimOptionSet();
    Declare(set, options);
    error = set.Parse(args);
    return error.empty() ? 1 : 0;
}

}  // namespace

int ParseOptions(const std::vector<std::string>& args, SimOptions& options, std::string& error) {
    if (!ApplyArgs(args, options, error)) return 0;
    if (options.hasSeed) {
        // Through the same declarations as typed options, so the printed options are exactly what applies.
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
    SimOptions unused;  // outlives the declarations that refer to it
    COptionSet set = SimOptionSet();
    Declare(set, unused);
    std::vector<std::string> names;
    for (const CLI::Option* option : set.App().get_options())
        for (const std::string& name : option->get_lnames()) names.push_back("--" + name);
    return names;
}

std::string UsageText() {
    SimOptions unused;  // outlives the declarations that refer to it
    COptionSet set = SimOptionSet();
    Declare(set, unused);
    return set.Help();
}
