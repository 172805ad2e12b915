#include "app/gui/GuiOptions.h"

#include <filesystem>
#include <string_view>
#include <system_error>

#include "engine/frame/Trace.h"

GuiOptions ParseGuiOptions(int argc, char** argv) {
    GuiOptions options;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg.substr(0, 2) != "--") continue;
        const bool takesValue = arg == "--port" || arg == "--folder";
        if (takesValue && i + 1 >= argc) {
            options.error = "параметру " + std::string(arg) + " нужно значение";
            return options;
        }
        if (arg == "--port") {
            options.ports.emplace_back(argv[++i]);
        } else if (arg == "--folder") {
            std::error_code ec;
            const std::filesystem::path folder = std::filesystem::absolute(argv[++i], ec);
            if (ec || !std::filesystem::is_directory(folder, ec)) {
                options.error = std::string("--folder ") + argv[i] + ": нет такой папки";
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
            options.error = "неизвестный параметр: " + std::string(arg);
            return options;
        }
    }
    return options;
}

const char* GuiUsage() {
    return "Вызов: iap-tool [--port PATH]... [--folder DIR] [--automation]\n"
           "  --port PATH   порт устройства; можно несколько раз (по умолчанию: порты системы)\n"
           "  --folder DIR  папка с файлами обновления и ver.txt (по умолчанию: папка программы)\n"
           "  --automation  команды со стандартного ввода: click NAME, select NAME INDEX, get NAME,\n"
           "                grab FILE, quit; каждый ответ — одна строка, начинающаяся с \"@@ \"\n";
}
