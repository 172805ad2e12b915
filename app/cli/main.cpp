// iap-cli: the command-line updater, a second front end over the same engine as the main window.
#include <cstdio>

#include "app/cli/CliOptions.h"
#include "app/cli/Inspect.h"
#include "app/cli/InterruptWatch.h"
#include "app/cli/PortReport.h"
#include "app/cli/ProgramFolder.h"
#include "app/cli/RunUpdate.h"
#include "app/cli/TextOut.h"
#include "app/common/CommandLine.h"
#include "app/common/Console.h"
#include "app/common/FolderName.h"
#include "base/ConsoleText.h"
#include "base/Trace.h"
#include "transport/PortList.h"

int main(int argc, char** argv) {
    UseUtf8Console();
    const ParseResult parsed = ParseCliOptions(CommandLineArgs(argc, argv));
    if (!parsed.ok) {
        WriteConsoleUtf8(stderr, "iap-cli: " + parsed.error + " (см. iap-cli --help)\n");
        return EXIT_USAGE;
    }
    const CliOptions& options = parsed.options;
    switch (options.mode) {
        case CliOptions::Mode::Help:
            PrintText(stdout, CliUsage());
            return EXIT_RUN_OK;
        case CliOptions::Mode::ListPorts:
            if (!options.ports.empty()) SetPortList(options.ports);
            return ListPorts(stdout);
        case CliOptions::Mode::Inspect:
            SetTraceFile(nullptr);
            return InspectFolder(WithSeparator(options.folder.empty() ? ProgramFolder() : options.folder), stdout);
        case CliOptions::Mode::Update:
            break;
    }
    // Before the engine starts a thread, so that only the watch takes Ctrl-C.
    CInterruptWatch interrupts;
    return RunUpdate(options, stdout, stderr, interrupts);
}
