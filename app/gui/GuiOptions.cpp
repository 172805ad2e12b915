#include "app/gui/GuiOptions.h"

#include <filesystem>
#include <system_error>

#include "app/common/OptionParser.h"
#include "base/Text.h"
#include "base/Trace.h"
#include "files/Utf8Path.h"

GuiOptions ParseGuiOptions(const std::vector<std::string>& args) {
    GuiOptions options;
    std::string folder;
    COptionParser parser(COptionParser::Others::Skip);
    AddCommonOptions(parser, options.ports, folder, [&options] { options.help = true; });
    parser.Flag("--automation", options.automation);
    options.error = parser.Parse(args);
    if (!options.error.empty() || folder.empty()) return options;

    // The windows build every path as folder + name; Qt and the file layer take '/' on Windows too.
    std::error_code ec;
    const std::filesystem::path absolute = std::filesystem::absolute(PathFromUtf8(folder), ec);
    if (ec || !std::filesystem::is_directory(absolute, ec)) {
        options.error = "--folder " + folder + ": нет такой папки";
        return options;
    }
    options.folder = Utf8ToWide(WithSeparator(Utf8OfPath(absolute.lexically_normal())));
    return options;
}

const char* GuiUsage() {
    return "Вызов: iap-tool [--port PORT]... [--folder DIR] [--automation]\n"
           "  --port PORT   порт устройства (/dev/ttyUSB0; в Windows COM20); можно несколько раз\n"
           "                (по умолчанию: порты системы)\n"
           "  --folder DIR  папка с файлами обновления и ver.txt (по умолчанию: папка программы)\n"
           "  --automation  команды со стандартного ввода: click NAME, select NAME INDEX, get NAME,\n"
           "                grab FILE, quit; каждый ответ — одна строка, начинающаяся с \"@@ \"\n"
           "  --help, -h    эта справка\n";
}
