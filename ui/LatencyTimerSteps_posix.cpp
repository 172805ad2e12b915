// On Linux the port asks the driver for its low-latency mode when it opens; an adapter that is still
// slow did not take it or ignores it.
#include "ui/StepTexts.h"

std::wstring LatencyTimerSteps() {
    return L"Программа уже попросила драйвер о малой задержке (low_latency), но драйвер её не принял или "
           L"адаптер её не соблюдает. Для адаптера FTDI запишите 1 в "
           L"/sys/bus/usb-serial/devices/ttyUSB0/latency_timer (от root; ttyUSB0 — имя вашего порта) или "
           L"возьмите другой адаптер.";
}
