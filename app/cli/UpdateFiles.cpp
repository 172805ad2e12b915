#include "app/cli/UpdateFiles.h"

#include <sys/stat.h>

#include "engine/frame/Trace.h"
#include "engine/Work_BK.h"
#include "files/File_EDogMusicPic.h"
#include "files/File_Project.h"
#include "files/File_Radar.h"

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

UpdateFileCheck CheckUpdateFile(const std::string& folder, const UpdateFile& file) {
    constexpr int kParam1 = CWork_BK::kImageParam1, kParam2 = CWork_BK::kImageParam2,
                  kParam3 = CWork_BK::kImageParam3, kParam4 = CWork_BK::kImageParam4;
    UpdateFileCheck check;
    check.file = &file;
    check.path = folder + file.name;
    struct stat info {};
    if (stat(check.path.c_str(), &info) == 0 && S_ISREG(info.st_mode)) check.bytes = static_cast<long long>(info.st_size);

    const std::wstring widePath = Utf8ToWide(check.path);
    if (file.step == 1) {
        CFile_Project image(kParam1, kParam2, kParam3, kParam4);
        image.Load(widePath.c_str());
        check.status = image.LoadStatus();
        check.plan = PlanProject(image);
        check.records = image.GetPacketCount();
        check.version = image.GetHexVer();
    } else if (file.step == 5) {
        CFile_Radar image(kParam1, kParam2, kParam3, kParam4);
        image.Load(widePath.c_str());
        check.status = image.LoadStatus();
        check.plan = PlanRadar(image);
    } else {
        CFile_EDogMusicPic image(kParam1, kParam2, kParam3, kParam4);
        image.Load(widePath.c_str());
        check.status = image.LoadStatus();
        check.plan = PlanData(image);
    }
    return check;
}

std::vector<UpdateFileCheck> CheckUpdateFiles(const std::string& folder) {
    std::vector<UpdateFileCheck> checks;
    for (const UpdateFile& file : UpdateFileList()) checks.push_back(CheckUpdateFile(folder, file));
    return checks;
}
