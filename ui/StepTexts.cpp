#include "ui/StepTexts.h"

#include <cwchar>

#include "base/DisplayPath.h"
#include "engine/ImageTable.h"
#include "engine/UpdateStep.h"

// The image steps' texts are in their rows of the image table; the two steps that are no image keep
// theirs here.
std::wstring StepText(int step) {
    if (const ImageRow* image = ImageByStep(step)) return image->runningText;
    return step == StepSettings ? L"Обновление меню устройства..." : L"";
}

std::wstring StepEndText(int step, int result) {
    const bool ok = result == 0;
    if (const ImageRow* image = ImageByStep(step)) return ok ? image->succeededText : image->failedText;
    switch (step) {
        case StepSettings: return ok ? L"Меню устройства обновлено успешно!" : L"Не удалось обновить меню устройства!";
        case StepFinished: return ok ? L"Успешно обновлено!" : L"Ошибка обновления!";
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

std::wstring FailedRunText(const std::wstring& failedStepText, const std::wstring& reason) {
    std::wstring text = failedStepText.empty() ? StepEndText(StepFinished, 1) : failedStepText;
    if (!reason.empty()) text += L" Причина: " + reason;
    return text;
}

std::wstring NoUpdateFilesText(const std::wstring& folder) {
    return L"Файлы обновления не найдены в папке " + DisplayPath(folder);
}

std::wstring RestartSearchText() { return L"Устройство перезапускается; ожидание его возвращения на связь..."; }

std::wstring FirmwarePauseText(uint32_t leftMs) {
    wchar_t text[96] = {};
    std::swprintf(text, 96, L"Ожидание перезапуска устройства: %u с", static_cast<unsigned>((leftMs + 999) / 1000));
    return text;
}

std::wstring SlowAdapterText(uint32_t delayMs) {
    wchar_t text[160] = {};
    std::swprintf(text, 160, L"Адаптер USB-COM задерживает каждый ответ устройства примерно на %u мс, поэтому "
                             L"обновление идёт медленнее, чем позволяет линия. ", static_cast<unsigned>(delayMs));
    return text + LatencyTimerSteps();
}
