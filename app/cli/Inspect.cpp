#include "app/cli/Inspect.h"

#include <sys/stat.h>

#include <cstdarg>
#include <cwchar>
#include <filesystem>
#include <string>

#include "app/cli/UpdateFiles.h"
#include "app/common/VersionFile.h"
#include "engine/ImagePlan.h"
#include "engine/Trace.h"
#include "files/File_EDogMusicPic.h"
#include "files/File_Project.h"
#include "files/File_Radar.h"
#include "transport/Serial.h"

namespace {

constexpr int kParam1 = 17, kParam2 = 45, kParam3 = 21, kParam4 = 13;

void Print(std::FILE* out, const std::wstring& text) {
    const std::string bytes = WideToUtf8(text);
    std::fwrite(bytes.data(), 1, bytes.size(), out);
}

std::wstring Printf(const wchar_t* format, ...) {
    wchar_t text[512] = {};
    va_list args;
    va_start(args, format);
    std::vswprintf(text, 512, format, args);
    va_end(args);
    return text;
}

void PrintPlan(std::FILE* out, const ImagePlan& plan) {
    Print(out, Printf(L"    пакетов: %d, кадров: %d, байт по линии: %lld, передача при %u бод: %.1f с\n",
                      plan.packets, plan.frames, plan.wireBytes, SERIAL_TRANSFER_BAUD,
                      LineSeconds(plan.wireBytes, SERIAL_TRANSFER_BAUD)));
}

}  // namespace

int InspectFolder(const std::string& folder, std::FILE* out) {
    std::error_code error;
    if (!std::filesystem::is_directory(folder, error)) {
        Print(out, L"Папка \"" + Utf8ToWide(folder) + L"\" не найдена или не читается.\n");
        return 1;
    }
    Print(out, L"Папка: " + Utf8ToWide(folder) + L"\n");
    for (const UpdateFile& file : UpdateFileList()) {
        const std::string path = folder + file.name;
        struct stat info {};
        Print(out, Printf(L"%-20hs ", file.name));
        if (stat(path.c_str(), &info) != 0) {
            Print(out, L"нет\n");
            continue;
        }
        Print(out, Printf(L"%lld байт (%ls)\n", static_cast<long long>(info.st_size), file.title));
        const std::wstring widePath = Utf8ToWide(path);
        if (file.step == 1) {
            CFile_Project image(kParam1, kParam2, kParam3, kParam4);
            const int complete = image.Load(widePath.c_str());
            const ImagePlan plan = PlanProject(image);
            Print(out, Printf(L"    записей: %d, версия: %04x\n", image.GetPacketCount(), image.GetHexVer()));
            if (!complete)
                Print(out, Printf(L"    ОШИБКА: файл прочитан не до конца (нет записи конца файла или запись %d "
                                  L"с ошибкой, строчные цифры или не CR LF)\n",
                                  image.GetPacketCount() + 1));
            if (!plan.sendable) {
                Print(out, L"    ОШИБКА: первая запись не задаёт адрес загрузки (тип 04): прошивка не будет "
                           L"отправлена\n");
                continue;
            }
            if (plan.packets > 0)
                Print(out, Printf(L"    адреса: 0x%08X..0x%08X\n", plan.lowAddress, plan.highAddress - 1));
            PrintPlan(out, plan);
        } else if (file.step == 5) {
            CFile_Radar image(kParam1, kParam2, kParam3, kParam4);
            image.Load(widePath.c_str());
            if (image.GetPacketCount() == 0) Print(out, L"    пустой файл: шаг будет пропущен\n");
            PrintPlan(out, PlanRadar(image));
        } else {
            CFile_EDogMusicPic image(kParam1, kParam2, kParam3, kParam4);
            image.Load(widePath.c_str());
            if (image.GetPacketCount() == 0) Print(out, L"    пустой файл: шаг будет пропущен\n");
            PrintPlan(out, PlanData(image));
        }
    }

    VersionLines versions;
    if (!ReadVersionLines(folder + "ver.txt", versions)) {
        Print(out, L"ver.txt              нет\n");
        return 0;
    }
    static const wchar_t* const kLabels[] = {L"тип устройства", L"версия ПО", L"версия базы",
                                             L"версия радара"};
    Print(out, L"ver.txt\n");
    for (size_t i = 0; i < versions.lines.size(); ++i)
        Print(out, Printf(L"    %-16ls %ls\n", kLabels[i], TrimLineEnd(versions.lines[i]).c_str()));
    return 0;
}
