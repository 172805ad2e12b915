#include "app/cli/Inspect.h"

#include <cwchar>
#include <filesystem>
#include <string>

#include "engine/UpdateFiles.h"
#include "engine/VersionFile.h"
#include "ui/DisplayText.h"
#include "engine/ImagePlan.h"
#include "app/cli/TextOut.h"
#include "base/DisplayPath.h"
#include "base/Text.h"
#include "base/Trace.h"
#include "files/Utf8Path.h"
#include "transport/Serial.h"

namespace {

void PrintPlan(std::FILE* out, const ImagePlan& plan) {
    // Each frame waits for its answer, so the line carries both directions one after the other.
    PrintText(out, FormatText(L"    пакетов: %d, кадров: %d, байт к устройству: %lld, ответов: %lld байт, "
                              L"линия в обе стороны при %u бод: %.1f с (предел; плюс оборот программы и устройства)\n",
                      plan.packets, plan.frames, plan.wireBytes, plan.answerBytes, SERIAL_TRANSFER_BAUD,
                      LineSeconds(plan.wireBytes + plan.answerBytes, SERIAL_TRANSFER_BAUD)));
}

}  // namespace

int InspectFolder(const std::string& folder, std::FILE* out) {
    std::error_code error;
    if (!std::filesystem::is_directory(PathFromUtf8(folder), error)) {
        PrintText(out, L"Папка \"" + Utf8ToWide(DisplayPath(folder)) + L"\" не найдена или не читается.\n");
        return 1;
    }
    PrintText(out, L"Папка: " + Utf8ToWide(DisplayPath(folder)) + L"\n");
    bool refused = false;
    for (const UpdateFileCheck& check : CheckUpdateFiles(folder)) {
        const ImageRow& image = *check.image;
        const bool hex = image.reader == ImageReaderKind::Hex;
        PrintText(out, FormatText(L"%-20hs ", check.name.c_str()));
        if (check.status.state == ImageState::Absent) {
            PrintText(out, L"нет\n");
            continue;
        }
        if (check.bytes >= 0)
            PrintText(out, FormatText(L"%lld байт (%ls)\n", check.bytes, image.title));
        else
            PrintText(out, FormatText(L"(%ls)\n", image.title));
        if (hex && check.status.state != ImageState::Empty)
            PrintText(out, FormatText(L"    записей: %d, версия: %04x\n", check.records, check.version));
        if (check.status.state == ImageState::Refused) {
            refused = true;
            PrintText(out, L"    ОТКАЗ: " + check.status.reason + L"\n");
            PrintText(out, L"    файл не будет отправлен; обновление не начнётся, пока он не исправлен или не убран\n");
            continue;
        }
        if (check.status.state == ImageState::Empty) {
            PrintText(out, L"    пустой файл: шаг будет пропущен\n");
            continue;
        }
        if (hex && check.plan.packets > 0)
            PrintText(out, FormatText(L"    адреса: 0x%08X..0x%08X\n", check.plan.lowAddress, check.plan.highAddress - 1));
        PrintPlan(out, check.plan);
    }

    VersionLines versions;
    if (!ReadVersionLines(folder + "ver.txt", versions)) {
        PrintText(out, L"ver.txt              нет\n");
        return refused ? 1 : 0;
    }
    static const wchar_t* const kLabels[] = {L"тип устройства", L"версия ПО", L"версия базы",
                                             L"версия радара"};
    PrintText(out, L"ver.txt\n");
    for (size_t i = 0; i < versions.lines.size(); ++i)
        PrintText(out, FormatText(L"    %-16ls %ls\n", kLabels[i], TrimLineEnd(versions.lines[i]).c_str()));
    return refused ? 1 : 0;
}
