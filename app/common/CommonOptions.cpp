#include "app/common/CommonOptions.h"

void AddCommonOptions(COptionSet& options, std::vector<std::string>& ports, std::string& folder) {
    options.Values("--port", ports, "PORT",
                   "порт устройства (/dev/ttyUSB0; в Windows COM20); можно несколько раз:\n"
                   "порт 1, 2, ... по порядку\n"
                   "(без него: переменная IAP_PORTS=путь1:путь2, затем порты системы:\n"
                   "/dev/ttyUSB*, /dev/ttyACM*, /dev/ttyS*)");
    options.Value("--folder", folder, "DIR",
                  "папка с файлами обновления и ver.txt (по умолчанию папка программы):\n"
                  "AC7811_project.hex, flagdata.bin, audioHead.bin, picHead.bin, rdfwd.bin");
}

const CLI::Option* AddHelpOption(COptionSet& options) { return options.Flag("--help,-h", "эта справка"); }
