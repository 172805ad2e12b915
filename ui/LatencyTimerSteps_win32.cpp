// On Windows only the user can lower the latency timer, in the adapter driver's settings.
#include "ui/StepTexts.h"

std::wstring LatencyTimerSteps() {
    return L"Уменьшите задержку адаптера: Диспетчер устройств → Порты (COM и LPT) → «USB Serial Port» → "
           L"Свойства → Port Settings → Advanced → Latency Timer (msec) = 1 (адаптеры FTDI; у CP210x и CH340 "
           L"похожая настройка или никакой), затем отключите и снова подключите адаптер.";
}
