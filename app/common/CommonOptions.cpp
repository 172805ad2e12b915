#include "app/common/CommonOptions.h"

#include "app/common/PortHints.h"

void AddCommonOptions(COptionSet& options, std::vector<std::string>& ports, std::string& folder) {
    options.Values("--port", ports, "PORT", PortOptionHelp());
    options.Value("--folder", folder, "DIR",
                  "папка с файлами обновления и ver.txt (по умолчанию папка программы):\n"
                  "AC7811_project.hex, flagdata.bin, audioHead.bin, picHead.bin, rdfwd.bin");
}

const CLI::Option* AddHelpOption(COptionSet& options) { return options.Flag("--help,-h", "эта справка"); }
