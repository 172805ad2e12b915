#include "app/cli/CliOptions.h"

#include "app/common/CommonOptions.h"
#include "base/Text.h"
#include "base/Trace.h"
#include "base/OptionSet.h"

namespace {

// The options that choose what the program does; the one given last decides.
struct ModeOptions {
    const CLI::Option* inspect = nullptr;
    const CLI::Option* listPorts = nullptr;
    const CLI::Option* help = nullptr;
};

std::function<std::string(const std::string&)> Refusal(const std::string& name, const std::string& expected) {
    return [name, expected](const std::string& text) { return name + " ждёт " + expected + ", а не \"" + text + "\""; };
}

// Every option of iap-cli, into `options`.
ModeOptions Declare(COptionSet& set, CliOptions& options) {
    AddCommonOptions(set, options.ports, options.folder);
    set.Value("--settings", options.settingsFile, "FILE",
              "изменённые настройки устройства (ровно 73 байта); записываются в конце\n"
              "обновления, если отличаются от настроек устройства и не все нули");
    set.Value("--save-settings", options.saveSettingsFile, "FILE",
              "сохранить настройки устройства, как они прочитаны (73 байта)");
    set.Number("--firmware-pause-ms", options.firmwarePauseMs, 0, 9999999999,
               Refusal("--firmware-pause-ms", "число миллисекунд"), "N", "пауза после прошивки, мс (по умолчанию 10000)");
    set.Number("--wait-device", options.waitDeviceSeconds, 1, 86400,
               Refusal("--wait-device", "число секунд от 1 до 86400"), "SECONDS",
               "ждать подключения устройства до SECONDS секунд: новые порты\n"
               "проверяются сразу, молчащие порты раз в 10 с (без него: один поиск)");
    set.Value("--trace", options.traceFile, "FILE", "диагностический журнал в файл (\"-\": в стандартный вывод)");
    set.Flag("--plain", options.plainProgress, "простые строки хода обновления даже в терминале");
    ModeOptions modes;
    modes.inspect = set.Flag("--inspect", "показать файлы обновления в папке (--folder); устройство не нужно");
    modes.listPorts = set.Flag("--list-ports", "показать порты с их номерами (с --port: названные)");
    modes.help = AddHelpOption(set);
    set.Footer("Коды завершения:\n"
               "  0   обновление завершено успешно (также --inspect, --list-ports, --help)\n"
               "  1   обновление не удалось, прервано (Ctrl-C) или файл обновления отвергнут (тогда к устройству\n"
               "      не подключались); для --inspect: папку нельзя прочитать или файл отвергнут\n"
               "  2   ни на одном порту устройство не ответило\n"
               "  64  ошибка в параметрах (неизвестный параметр, файл настроек не найден или не 73 байта)\n");
    // End-to-end tests shorten the sender's wait slice, so that a lost answer ends a run in a fraction
    // of the 15 s a user waits; not for users, so not in the help.
    set.Group("");
    set.Number("--test-wait-slice-ms", options.waitSliceMs, 1, 600000,
               Refusal("--test-wait-slice-ms", "число миллисекунд от 1 до 600000"), "N", "");
    return modes;
}

COptionSet CliOptionSet() {
    return COptionSet("iap-cli", "iap-cli: обновление устройства (камеры и радар-детектор) по последовательному порту.",
                      COptionSet::Others::Refuse);
}

}  // namespace

ParseResult ParseCliOptions(const std::vector<std::string>& args) {
    ParseResult result;
    COptionSet set = CliOptionSet();
    const ModeOptions modes = Declare(set, result.options);
    result.error = set.Parse(args);
    result.ok = result.error.empty();
    const CLI::Option* mode = set.LastGiven({modes.inspect, modes.listPorts, modes.help});
    if (mode == modes.inspect) result.options.mode = CliOptions::Mode::Inspect;
    if (mode == modes.listPorts) result.options.mode = CliOptions::Mode::ListPorts;
    if (mode == modes.help) result.options.mode = CliOptions::Mode::Help;
    return result;
}

std::wstring CliUsage() {
    COptionSet set = CliOptionSet();
    CliOptions unused;
    Declare(set, unused);
    return Utf8ToWide(set.Help());
}
