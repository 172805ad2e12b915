#include "app/gui/GuiOptions.h"

#include <filesystem>
#include <system_error>

#include "app/common/CommonOptions.h"
#include "app/common/FolderName.h"
#include "base/DisplayPath.h"
#include "base/Text.h"
#include "base/Trace.h"
#include "files/Utf8Path.h"

namespace {

// Every option of iap-tool, into `options` (the folder as given into `folder`); returns --help.
const CLI::Option* Declare(COptionSet& set, GuiOptions& options, std::string& folder) {
    AddCommonOptions(set, options.ports, folder);
    set.Flag("--automation", options.automation,
             "команды со стандартного ввода: click NAME, select NAME INDEX, get NAME,\n"
             "grab FILE, quit; каждый ответ — одна строка, начинающаяся с \"@@ \"");
    const CLI::Option* help = AddHelpOption(set);
    set.Footer("Прочие слова, кроме начинающихся с \"--\", передаются Qt (например, -platform offscreen).\n");
    return help;
}

COptionSet GuiOptionSet() {
    return COptionSet("iap-tool", "iap-tool: окно обновления устройства (камеры и радар-детектор) по последовательному порту.",
                      COptionSet::Others::Skip);
}

}  // namespace

GuiOptions ParseGuiOptions(const std::vector<std::string>& args) {
    GuiOptions options;
    std::string folder;
    COptionSet set = GuiOptionSet();
    const CLI::Option* help = Declare(set, options, folder);
    options.error = set.Parse(args);
    options.help = help->count() > 0;
    if (!options.error.empty() || folder.empty()) return options;

    // The windows build every path as folder + name; Qt and the file layer take '/' on Windows too.
    std::error_code ec;
    const std::filesystem::path absolute = std::filesystem::absolute(PathFromUtf8(folder), ec);
    if (ec || !std::filesystem::is_directory(absolute, ec)) {
        options.error = "--folder " + DisplayPath(folder) + ": нет такой папки";
        return options;
    }
    options.folder = Utf8ToWide(WithSeparator(Utf8OfPath(absolute.lexically_normal())));
    return options;
}

std::string GuiUsage() {
    COptionSet set = GuiOptionSet();
    GuiOptions unused;
    std::string folder;
    Declare(set, unused, folder);
    return set.Help();
}
