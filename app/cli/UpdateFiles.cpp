#include "app/cli/UpdateFiles.h"

#include <sys/stat.h>

const std::vector<UpdateFile>& UpdateFileList() {
    static const std::vector<UpdateFile> files = {
        {"AC7811_project.hex", L"прошивка", 1},
        {"flagdata.bin", L"база камер", 2},
        {"audioHead.bin", L"звуковые файлы", 3},
        {"picHead.bin", L"ресурсы отображения", 4},
        {"rdfwd.bin", L"ПО радарной части", 5},
    };
    return files;
}

bool AnyUpdateFilePresent(const std::string& folder) {
    for (const UpdateFile& file : UpdateFileList()) {
        struct stat info {};
        if (stat((folder + file.name).c_str(), &info) == 0 && S_ISREG(info.st_mode)) return true;
    }
    return false;
}
