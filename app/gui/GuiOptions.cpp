#include "app/gui/GuiOptions.h"

#include <filesystem>
#include <string_view>
#include <system_error>

#include "engine/Trace.h"

GuiOptions ParseGuiOptions(int argc, char** argv) {
    GuiOptions options;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg.substr(0, 2) != "--") continue;
        const bool takesValue = arg == "--port" || arg == "--folder";
        if (takesValue && i + 1 >= argc) {
            options.error = std::string(arg) + " needs a value";
            return options;
        }
        if (arg == "--port") {
            options.ports.emplace_back(argv[++i]);
        } else if (arg == "--folder") {
            std::error_code ec;
            const std::filesystem::path folder = std::filesystem::absolute(argv[++i], ec);
            if (ec || !std::filesystem::is_directory(folder, ec)) {
                options.error = std::string("--folder ") + argv[i] + ": no such folder";
                return options;
            }
            std::string text = folder.lexically_normal().string();
            if (text.empty() || text.back() != '/') text += '/';
            options.folder = Utf8ToWide(text);
        } else if (arg == "--automation") {
            options.automation = true;
        } else if (arg == "--help") {
            options.help = true;
        } else {
            options.error = "unknown option " + std::string(arg);
            return options;
        }
    }
    return options;
}

const char* GuiUsage() {
    return "Usage: iap-tool [--port PATH]... [--folder DIR] [--automation]\n"
           "  --port PATH   a serial port to look for the device on (repeatable; default: the system's ports)\n"
           "  --folder DIR  the folder with the update files and ver.txt (default: the program's folder)\n"
           "  --automation  take commands on standard input: click NAME, select NAME INDEX, get NAME,\n"
           "                grab FILE, quit; each answer is one line starting with \"@@ \"\n";
}
