#include "ui/StepTexts.h"

#include <cwchar>

std::wstring StepText(int step) {
    switch (step) {
        case 1: return L"Обновление ПО...";
        case 2: return L"Обновление базы камер...";
        case 3: return L"Обновление звуковых файпов...";
        case 4: return L"Обновление файла ресурсов отображения...";
        case 5: return L"Обновление ПО радарной части...";
        case 6: return L"Обновление меню устройства...";
        default: return L"";
    }
}

std::wstring StepEndText(int step, int result) {
    const bool ok = result == 0;
    switch (step) {
        case 1: return ok ? L"Обновление ПО прошло успешно!" : L"Не удалось обновить ПО!";
        case 2: return ok ? L"Обновление базы камер прошло успешно!" : L"Не удалось обновить базу камер!";
        case 3: return ok ? L"Обновление звуковых файлов прошло успешно!" : L"Не удалось обновить звуковые файлы!";
        case 4:
            return ok ? L"Обновление файла ресурсов отображения прошло успешно!"
                      : L"Не удалось обновить раздел ресурсов!";
        case 5:
            return ok ? L"Обновление ПО радарной части прошло успешно!" : L"Не удалось обновить ПО радарной части!";
        case 6: return ok ? L"Меню устройства обновлено успешно!" : L"Не удалось обновить меню устройства!";
        case 7: return ok ? L"Успешно обновлено!" : L"Ошибка обновления!";
        default: return L"";
    }
}

unsigned StepPercent(unsigned total, unsigned sent) {
    if (total == 0) return 0;
    return static_cast<unsigned>(static_cast<uint32_t>(sent * 100u) / total);
}

namespace {
constexpr unsigned kBarFloor = 6;  // the bar never shows less while packets flow
constexpr unsigned kBarFull = 100;
}  // namespace

// More answers than packets (a repeated acknowledgement) must not push the bar past its end.
unsigned BarValue(unsigned percent) { return percent < kBarFloor ? kBarFloor : percent > kBarFull ? kBarFull : percent; }

std::wstring PercentText(unsigned percent) {
    wchar_t text[16] = {};
    std::swprintf(text, 16, L"%d%%", static_cast<int>(percent));
    return text;
}

std::wstring ElapsedText(uint32_t elapsedMs) {
    const uint32_t seconds = elapsedMs / 1000;
    wchar_t text[64] = {};
    std::swprintf(text, 64, L"Время обновления: %02d:%02d:%02d", static_cast<int>((seconds / 3600) % 60),
                  static_cast<int>((seconds / 60) % 60), static_cast<int>(seconds % 60));
    return text;
}
