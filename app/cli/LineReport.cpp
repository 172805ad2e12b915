#include "app/cli/LineReport.h"

#include "app/cli/TextOut.h"

double WireSeconds(const LineUse& use) {
    if (use.baud == 0) return 0.0;
    return static_cast<double>(use.bytesOut + use.bytesIn) * 10.0 / static_cast<double>(use.baud);
}

double LineEfficiency(const LineUse& use) {
    return use.measuredMs == 0 ? 0.0 : WireSeconds(use) * 1000.0 / use.measuredMs;
}

std::wstring LineSummaryHeader(uint32_t baud) {
    return FormatText(L"Итог (%u бод, 10 бит на байт; предел линии: время обоих направлений):\n"
                      L"  %-20ls %12ls %12ls %9ls %9ls\n",
                      baud, L"", L"→ устройству", L"← ответы", L"линия", L"замер");
}

std::wstring LineSummaryRow(const wchar_t* name, const LineUse& use, int records, bool failed) {
    std::wstring row = FormatText(L"  %-20ls %7llu байт %7llu байт %7.2f с %7.2f с %4.0f%% предела линии", name,
                                  static_cast<unsigned long long>(use.bytesOut),
                                  static_cast<unsigned long long>(use.bytesIn), WireSeconds(use),
                                  use.measuredMs / 1000.0, LineEfficiency(use) * 100.0);
    if (records >= 0 && use.measuredMs > 0) row += FormatText(L"  %.0f записей/с", records * 1000.0 / use.measuredMs);
    if (failed) row += L"  ОШИБКА";
    return row + L"\n";
}

std::wstring TurnaroundLine(const TurnaroundStats& stats, double wireSeconds) {
    if (stats.count == 0) return std::wstring();
    const double ownSeconds = static_cast<double>(stats.totalUs) / 1e6;
    const double share = wireSeconds + ownSeconds > 0 ? wireSeconds / (wireSeconds + ownSeconds) : 0.0;
    return FormatText(L"  задержка iap-cli (ответ прочитан → следующий кадр записан): медиана %u мкс, "
                      L"99%% до %u мкс, %llu раз; с одной этой задержкой линия была бы занята на %.0f%%\n",
                      stats.medianUs, stats.p99Us, static_cast<unsigned long long>(stats.count), share * 100.0);
}
