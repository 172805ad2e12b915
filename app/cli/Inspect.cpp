#include "app/cli/Inspect.h"

#include <sys/stat.h>

#include <cwchar>
#include <filesystem>
#include <string>

#include "app/cli/UpdateFiles.h"
#include "app/common/VersionFile.h"
#include "engine/ImagePlan.h"
#include "app/cli/TextOut.h"
#include "engine/Trace.h"
#include "files/File_EDogMusicPic.h"
#include "files/File_Project.h"
#include "files/File_Radar.h"
#include "transport/Serial.h"

namespace {

constexpr int kParam1 = 17, kParam2 = 45, kParam3 = 21, kParam4 = 13;

void PrintPlan(std::FILE* out, const ImagePlan& plan) {
    PrintText(out, FormatText(L"    пакетов: %d, кадров: %d, байт по линии: %lld, передача при %u бод: %.1f с\n",
                      plan.packets, plan.frames, plan.wireBytes, SERIAL_TRANSFER_BAUD,
                      LineSeconds(plan.wireBytes, SERIAL_TRANSFER_BAUD)));
}

}  // namespace

int InspectFolder(const std::string& folder, std::FILE* out) {
    std::error_code error;
    if (!std::filesystem::is_directory(folder, error)) {
        PrintText(out, L"Папка \"" + Utf8ToWide(folder) + L"\" не найдена или не читается.\n");
        return 1;
    }
    PrintText(out, L"Папка: " + Utf8ToWide(folder) + L"\n");
    for (const UpdateFile& file : UpdateFileList()) {
        const std::string path = folder + file.name;
        struct stat info {};
        PrintText(out, FormatText(L"%-20hs ", file.name));
        if (stat(path.c_str(), &info) != 0) {
            PrintText(out, L"нет\n");
            continue;
        }
        PrintText(out, FormatText(L"%lld байт (%ls)\n", static_cast<long long>(info.st_size), file.title));
        const std::wstring widePath = Utf8ToWide(path);
        if (file.step == 1) {
            CFile_Project image(kParam1, kParam2, kParam3, kParam4);
            const int complete = image.Load(widePath.c_str());
            const ImagePlan plan = PlanProject(image);
            PrintText(out, FormatText(L"    записей: %d, версия: %04x\n", image.GetPacketCount(), image.GetHexVer()));
            if (!complete)
                PrintText(out, FormatText(L"    ОШИБКА: файл прочитан не до конца (нет записи конца файла или запись %d "
                                  L"с ошибкой, строчные цифры или не CR LF)\n",
                                  image.GetPacketCount() + 1));
            if (!plan.sendable) {
                PrintText(out, L"    ОШИБКА: первая запись не задаёт адрес загрузки (тип 04): прошивка не будет "
                           L"отправлена\n");
                continue;
            }
            if (plan.packets > 0)
                PrintText(out, FormatText(L"    адреса: 0x%08X..0x%08X\n", plan.lowAddress, plan.highAddress - 1));
            PrintPlan(out, plan);
        } else if (file.step == 5) {
            CFile_Radar image(kParam1, kParam2, kParam3, kParam4);
            image.Load(widePath.c_str());
            if (image.GetPacketCount() == 0) PrintText(out, L"    пустой файл: шаг будет пропущен\n");
            PrintPlan(out, PlanRadar(image));
        } else {
            CFile_EDogMusicPic image(kParam1, kParam2, kParam3, kParam4);
            image.Load(widePath.c_str());
            if (image.GetPacketCount() == 0) PrintText(out, L"    пустой файл: шаг будет пропущен\n");
            PrintPlan(out, PlanData(image));
        }
    }

    VersionLines versions;
    if (!ReadVersionLines(folder + "ver.txt", versions)) {
        PrintText(out, L"ver.txt              нет\n");
        return 0;
    }
    static const wchar_t* const kLabels[] = {L"тип устройства", L"версия ПО", L"версия базы",
                                             L"версия радара"};
    PrintText(out, L"ver.txt\n");
    for (size_t i = 0; i < versions.lines.size(); ++i)
        PrintText(out, FormatText(L"    %-16ls %ls\n", kLabels[i], TrimLineEnd(versions.lines[i]).c_str()));
    return 0;
}
