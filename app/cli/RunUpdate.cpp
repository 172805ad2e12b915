#include "app/cli/RunUpdate.h"

#include <algorithm>
#include <cwchar>
#include <memory>
#include <vector>

#include "app/cli/CliWindow.h"
#include "app/common/Console.h"
#include "app/cli/InterruptWatch.h"
#include "app/cli/LineReport.h"
#include "app/cli/PortReport.h"
#include "app/cli/ProgramFolder.h"
#include "app/cli/ProgressView.h"
#include "ui/StepTexts.h"
#include "engine/UpdateFiles.h"
#include "app/common/FolderName.h"
#include "engine/VersionFile.h"
#include "ui/DisplayText.h"
#include "engine/ImagePlan.h"
#include "app/cli/TextOut.h"
#include "base/DisplayPath.h"
#include "base/Text.h"
#include "base/Trace.h"
#include "files/Utf8Path.h"
#include "engine/Work_BK.h"
#include "transport/PortList.h"
#include "transport/TickCount.h"

namespace {

constexpr uint32_t kProbeMsPerPort = 1500;     // the handshake waits about a second per port
constexpr uint32_t kInfoAnswerMs = 10000;      // device information after the port opened
constexpr uint32_t kSettingsAnswersMs = 12000; // both settings reads (each dropped after one slice)

struct FileCloser {
    void operator()(std::FILE* file) const {
        if (file != nullptr && file != stdout) std::fclose(file);
    }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

bool ReadSettingsFile(const std::string& path, SettingsBlock& block, std::wstring& error) {
    FilePtr file(OpenFileUtf8(path, "rb"));
    if (!file) {
        error = L"файл настроек \"" + Utf8ToWide(path) + L"\" не открывается";
        return false;
    }
    uint8_t bytes[SETTINGS_BLOCK_SIZE + 1];
    const size_t n = std::fread(bytes, 1, sizeof bytes, file.get());
    if (n != SETTINGS_BLOCK_SIZE) {
        error = FormatText(L"файл настроек \"%ls\" должен содержать ровно %d байта, а в нём %ls",
                       Utf8ToWide(path).c_str(), SETTINGS_BLOCK_SIZE, n > SETTINGS_BLOCK_SIZE ? L"больше" : FormatText(L"%zu", n).c_str());
        return false;
    }
    std::copy(bytes, bytes + SETTINGS_BLOCK_SIZE, block.begin());
    return true;
}

bool WriteSettingsFile(const std::string& path, const SettingsBlock& block) {
    FilePtr file(OpenFileUtf8(path, "wb"));
    return file && std::fwrite(block.data(), 1, block.size(), file.get()) == block.size();
}

// Waits until the device's information arrived, or the scan found nothing.
enum class ConnectOutcome { Ready, NoDevice, NoInformation, Interrupted, LineLost };
// With waitMs the engine keeps looking; the wait ends when a device is ready or the time is up.
ConnectOutcome WaitForDevice(CWork_BK& engine, CCliWindow& window, size_t portCount, uint32_t waitMs,
                             std::FILE* out) {
    const uint32_t scanBudget =
        static_cast<uint32_t>(std::min<size_t>(portCount, SERIAL_PORT_LIMIT)) * kProbeMsPerPort + waitMs;
    const uint32_t start = GetTickCountMs();
    uint32_t connectedAt = 0;
    bool toldWaiting = false;
    for (;;) {
        // The slice only paces the look at the connect state; an interrupt ends it at once.
        if (window.WaitForReady(50)) return ConnectOutcome::Ready;
        if (window.Interrupted()) return ConnectOutcome::Interrupted;
        const ConnectState state = engine.GetConnectState();
        if (state == ConnectState::NoDevice) {
            if (waitMs == 0 || GetTickCountMs() - start > waitMs) return ConnectOutcome::NoDevice;
            if (!toldWaiting) {
                PrintText(out, FormatText(L"Устройство не найдено; подключите его, поиск продолжается (до %u с)...\n",
                                          waitMs / 1000));
                toldWaiting = true;
            }
            continue;
        }
        if (state == ConnectState::LineLost) return ConnectOutcome::LineLost;
        const uint32_t now = GetTickCountMs();
        if (state == ConnectState::Connected) {
            if (connectedAt == 0) connectedAt = now;
            if (now - connectedAt > kInfoAnswerMs) return ConnectOutcome::NoInformation;
        } else if (now - start > scanBudget + kInfoAnswerMs) {
            return ConnectOutcome::NoDevice;
        }
    }
}

void PrintVersions(std::FILE* out, CWork_BK& engine, const std::string& folder) {
    VersionLines files;
    ReadVersionLines(folder + "ver.txt", files);
    const std::wstring type = TrimLineEnd(files.lines[0]);
    PrintText(out, L"Тип устройства: " + (type.empty() ? L"—" : type) + L"\n");
    PrintText(out, L"                 устройство   файлы\n");
    const std::wstring rows[3][2] = {
        {engine.DeviceFirmwareVersion(), TrimLineEnd(files.lines[1])},
        {engine.DeviceDataVersion(), TrimLineEnd(files.lines[2])},
        {engine.DeviceRadarVersion(), TrimLineEnd(files.lines[3])},
    };
    const wchar_t* const labels[3] = {L"ПО:             ", L"База камер:     ", L"ПО радара:      "};
    for (int i = 0; i < 3; ++i)
        PrintText(out, FormatText(L"  %ls%-12ls %ls\n", labels[i], rows[i][0].c_str(),
                          rows[i][1].empty() ? L"—" : rows[i][1].c_str()));
}

void PrintSummary(std::FILE* out, CWork_BK& engine, const CCliWindow& window) {
    PrintText(out, LineSummaryHeader(SERIAL_TRANSFER_BAUD));
    LineUse total;
    total.baud = SERIAL_TRANSFER_BAUD;
    auto row = [&](int step, const wchar_t* name, int records) {
        const LineBytes bytes = window.StepLineBytes(step);
        const LineUse use{bytes.sent, bytes.received, window.StepMs(step), SERIAL_TRANSFER_BAUD};
        total.bytesOut += use.bytesOut;
        total.bytesIn += use.bytesIn;
        total.measuredMs += use.measuredMs;
        PrintText(out, LineSummaryRow(name, use, records, window.StepResult(step) != 0));
    };
    for (const ImageRow& image : ImageRows()) {
        if (!window.StepRan(image.step)) continue;
        const bool records = image.reader == ImageReaderKind::Hex;
        row(image.step, image.summaryName, records ? PlanImage(image, *engine.Image(image.step)).packets : -1);
    }
    if (window.StepRan(StepSettings)) row(StepSettings, L"меню устройства", -1);
    PrintText(out, LineSummaryRow(L"всего", total, -1, false));
    PrintText(out, TurnaroundLine(engine.LineTurnaround(), WireSeconds(total)));
    // The device may confirm the firmware's end with a status of its own; which one came is worth a line.
    if (engine.FirmwareEndStatus() >= 0)
        PrintText(out, FormatText(L"Завершение ПО подтверждено устройством с кодом %d\n", engine.FirmwareEndStatus()));
}

// Checks the update files with the engine's readers; prints a refused file's reason and an empty file's
// warning to `err`. False when any file is refused.
bool CheckFilesBeforeConnecting(const std::string& folder, std::FILE* err) {
    bool refused = false;
    bool anyPresent = false;
    for (const UpdateFileCheck& check : CheckUpdateFiles(folder)) {
        const std::wstring name = Utf8ToWide(check.path);
        switch (check.status.state) {
            case ImageState::Absent: break;
            case ImageState::Ready: anyPresent = true; break;
            case ImageState::Empty:
                anyPresent = true;
                PrintText(err, L"iap-cli: " + name + L": " + check.status.reason + L"; этот шаг будет пропущен\n");
                break;
            case ImageState::Refused:
                anyPresent = true;
                refused = true;
                PrintText(err, L"iap-cli: " + name + L": " + check.status.reason + L"\n");
                break;
        }
    }
    if (refused) {
        PrintText(err, L"iap-cli: обновление не начато: исправьте или уберите файлы выше; к устройству не подключались\n");
        return false;
    }
    if (!anyPresent)
        PrintText(err, L"iap-cli: в папке \"" + Utf8ToWide(DisplayPath(folder)) + L"\" нет ни одного файла обновления (" +
                           UpdateFileNames() + L")\n");
    return true;
}

const wchar_t* const kNotStartedText = L"iap-cli: прервано; обновление не начато, на устройство ничего не записано\n";

}  // namespace

int RunUpdate(const CliOptions& options, std::FILE* out, std::FILE* err, CInterruptWatch& interrupts) {
    const std::string folder = WithSeparator(options.folder.empty() ? ProgramFolder() : options.folder);

    SettingsBlock edited{};
    if (!options.settingsFile.empty()) {
        std::wstring error;
        if (!ReadSettingsFile(options.settingsFile, edited, error)) {
            PrintText(err, L"iap-cli: " + error + L"\n");
            return EXIT_USAGE;
        }
    }
    FilePtr traceFile;
    if (options.traceFile == "-") {
        SetTraceFile(stdout);
    } else if (!options.traceFile.empty()) {
        traceFile.reset(OpenFileUtf8(options.traceFile, "w"));
        if (!traceFile) {
            PrintText(err, L"iap-cli: журнал \"" + Utf8ToWide(options.traceFile) + L"\" не открывается для записи\n");
            return EXIT_USAGE;
        }
        SetTraceFile(traceFile.get());
    } else {
        SetTraceFile(nullptr);
    }

    // A file the engine would refuse ends the run before any port is opened: nothing about the
    // device changes, and the user learns at once what to fix.
    if (!CheckFilesBeforeConnecting(folder, err)) {
        SetTraceFile(stdout);
        return EXIT_RUN_FAILED;
    }
    if (interrupts.Interrupted()) {
        PrintText(err, kNotStartedText);
        SetTraceFile(stdout);
        return EXIT_RUN_FAILED;
    }

    if (!options.ports.empty()) SetPortList(options.ports);
    // The ports the engine's search will try: the same list the window's search takes.
    const std::vector<PortCandidate> ports = SearchCandidates(SERIAL_PORT_LIMIT);
    const uint32_t waitDeviceMs = static_cast<uint32_t>(options.waitDeviceSeconds) * 1000;
    // A USB adapter plugged in later adds its port; only a single scan can give up on an empty list.
    if (ports.empty() && waitDeviceMs == 0) {
        PrintText(err, L"iap-cli: " + NoDeviceText({}) + L"\n");
        SetTraceFile(stdout);
        return EXIT_NO_DEVICE;
    }

    CWork_BK& engine = *CWork_BK::Instance();
    EngineOptions engineOptions = engine.Options();
    if (options.firmwarePauseMs >= 0) engineOptions.firmwarePauseMs = static_cast<uint32_t>(options.firmwarePauseMs);
    if (options.waitSliceMs > 0) engineOptions.waitSliceMs = static_cast<uint32_t>(options.waitSliceMs);
    engineOptions.keepScanning = waitDeviceMs != 0;
    engine.SetOptions(engineOptions);

    const bool terminal = !options.plainProgress && IsTerminal(out);
    CProgressView view(out, terminal ? CProgressView::Mode::Terminal : CProgressView::Mode::Plain);
    CCliWindow window(&view);
    window.SetLineCounter([&engine] { return LineBytes{engine.LineBytesSent(), engine.LineBytesReceived()}; });
    // Declared after the window, so it is unhooked before the window goes.
    struct WakeHook {
        CInterruptWatch& watch;
        ~WakeHook() { watch.SetWake(nullptr); }
    } wakeHook{interrupts};
    interrupts.SetWake([&window] { window.Interrupt(); });
    engine.SetNotifyWindow(&window);
    engine.StartEngine(SERIAL_PORT_LIMIT, SERIAL_TRANSFER_BAUD, Utf8ToWide(folder));

    int status = EXIT_RUN_OK;
    auto finish = [&](int code) {
        engine.StopEngine();
        engine.SetNotifyWindow(nullptr);
        SetTraceFile(stdout);
        return code;
    };

    switch (WaitForDevice(engine, window, ports.size(), waitDeviceMs, out)) {
        case ConnectOutcome::Ready: break;
        case ConnectOutcome::Interrupted:
            PrintText(err, L"iap-cli: прервано до подключения к устройству\n");
            return finish(EXIT_RUN_FAILED);
        case ConnectOutcome::NoDevice:
            engine.StopEngine();
            PrintText(err, L"iap-cli: " + NoDeviceText(engine.LastScanReport()) + L"\n");
            return finish(EXIT_NO_DEVICE);
        case ConnectOutcome::NoInformation:
            PrintText(err, L"iap-cli: устройство ответило на опрос порта, но не прислало сведения о себе\n");
            return finish(EXIT_NO_DEVICE);
        case ConnectOutcome::LineLost:
            PrintText(err, L"iap-cli: " + engine.LineLostReason() + L"; обновление не начато\n");
            return finish(EXIT_RUN_FAILED);
    }

    // The settings may take seconds to come; say what is being waited for.
    PrintText(out, L"Устройство на связи, чтение его настроек...\n");
    // In short slices, so that a line lost meanwhile is told at once; an interrupt ends a slice.
    bool settingsRead = false;
    for (uint32_t waitedMs = 0; !settingsRead && waitedMs < kSettingsAnswersMs && !window.Interrupted();
         waitedMs += 100) {
        if (engine.GetConnectState() == ConnectState::LineLost) break;
        settingsRead = window.WaitForSettings(2, 100);
    }
    if (window.Interrupted()) {
        PrintText(err, kNotStartedText);
        return finish(EXIT_RUN_FAILED);
    }
    if (engine.GetConnectState() == ConnectState::LineLost) {
        PrintText(err, L"iap-cli: " + engine.LineLostReason() + L"; обновление не начато\n");
        return finish(EXIT_RUN_FAILED);
    }
    PrintVersions(out, engine, folder);

    SettingsBlock device{};
    engine.GetSettingsBlock(device.data());
    // Both reads answered, yet a refused answer (a block of the wrong size) left the device's block
    // unknown: nothing of it may be saved or compared.
    settingsRead = settingsRead && engine.DeviceSettingsKnown();
    if (!options.saveSettingsFile.empty()) {
        if (!settingsRead) {
            PrintText(err, L"iap-cli: устройство не прислало свои настройки; сохранять нечего, обновление не начато\n");
            return finish(EXIT_RUN_FAILED);
        }
        if (!WriteSettingsFile(options.saveSettingsFile, device)) {
            PrintText(err, L"iap-cli: настройки не записаны в \"" + Utf8ToWide(options.saveSettingsFile) + L"\"\n");
            return finish(EXIT_RUN_FAILED);
        }
        PrintText(out, L"Настройки устройства сохранены в " + Utf8ToWide(options.saveSettingsFile) + L"\n");
    }
    if (!options.settingsFile.empty()) {
        if (!settingsRead) {
            PrintText(err, L"iap-cli: устройство не прислало свои настройки; изменённые настройки не записаны, "
                       L"обновление не начато\n");
            return finish(EXIT_RUN_FAILED);
        }
        const bool allZero = std::all_of(edited.begin(), edited.end(), [](uint8_t b) { return b == 0; });
        // An all-zero block means "never read"; it is never written.
        if (edited != device && !allZero) {
            engine.SetSettingsPending(1);
            engine.SetSettingsBlock(edited.data());
        }
    }

    // Nothing of the run may go out once the user has interrupted.
    const bool started = interrupts.RunUnlessInterrupted([&] {
        window.RunStarted();
        engine.StartUpdateRun();
    });
    if (!started) {
        PrintText(err, kNotStartedText);
        return finish(EXIT_RUN_FAILED);
    }
    if (!window.WaitForRunEnd()) {
        // finish() stops the engine at once: the port is closed and nothing more is sent.
        PrintText(err, L"\niap-cli: обновление прервано пользователем; образы переданы не полностью\n");
        return finish(EXIT_RUN_FAILED);
    }
    PrintSummary(out, engine, window);
    if (window.RunResult() != 0) {
        std::wstring failed;
        for (const ImageRow& image : ImageRows())
            if (window.StepRan(image.step) && window.StepResult(image.step) != 0) failed = StepEndText(image.step, 1);
        if (window.StepRan(StepSettings) && window.StepResult(StepSettings) != 0)
            failed = StepEndText(StepSettings, 1);
        const std::wstring reason = engine.FailureReason();
        PrintText(err, L"iap-cli: обновление не удалось" + (failed.empty() ? L"" : L": " + failed) +
                           (reason.empty() ? L" Устройство перестало отвечать или файл нельзя отправить; см. --trace.\n"
                                           : L" Причина: " + reason + L". Подробности: --trace.\n"));
        status = EXIT_RUN_FAILED;
    }
    return finish(status);
}
