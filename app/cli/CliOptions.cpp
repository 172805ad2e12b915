#include "app/cli/CliOptions.h"

#include <cerrno>
#include <cstdlib>

#include "app/common/OptionParser.h"

namespace {

bool ParseMilliseconds(const std::string& text, int64_t& value) {
    if (text.empty() || text.size() > 10) return false;
    for (char c : text)
        if (c < '0' || c > '9') return false;
    value = std::strtoll(text.c_str(), nullptr, 10);
    return true;
}

}  // namespace

ParseResult ParseCliOptions(const std::vector<std::string>& args) {
    ParseResult result;
    CliOptions& options = result.options;
    auto mode = [&options](CliOptions::Mode value) { return [&options, value] { options.mode = value; }; };
    auto milliseconds = [](const char* name, int64_t& into, int64_t low, int64_t high) {
        return [name, &into, low, high](const std::string& text) -> std::string {
            if (ParseMilliseconds(text, into) && into >= low && into <= high) return {};
            if (low == 0) return std::string(name) + " ждёт число миллисекунд, а не \"" + text + "\"";
            return std::string(name) + " ждёт число миллисекунд от " + std::to_string(low) + " до " +
                   std::to_string(high) + ", а не \"" + text + "\"";
        };
    };

    COptionParser parser(COptionParser::Others::Refuse);
    AddCommonOptions(parser, options.ports, options.folder, mode(CliOptions::Mode::Help));
    parser.Value("--settings", options.settingsFile)
        .Value("--save-settings", options.saveSettingsFile)
        .Value("--trace", options.traceFile)
        .Value("--firmware-pause-ms", milliseconds("--firmware-pause-ms", options.firmwarePauseMs, 0, 9999999999))
        .Value("--test-wait-slice-ms", milliseconds("--test-wait-slice-ms", options.waitSliceMs, 1, 600000))
        .Value("--wait-device", [&options](const std::string& text) -> std::string {
            if (ParseMilliseconds(text, options.waitDeviceSeconds) && options.waitDeviceSeconds >= 1 &&
                options.waitDeviceSeconds <= 86400)
                return {};
            return "--wait-device ждёт число секунд от 1 до 86400, а не \"" + text + "\"";
        })
        .Flag("--plain", options.plainProgress)
        .Flag("--inspect", mode(CliOptions::Mode::Inspect))
        .Flag("--list-ports", mode(CliOptions::Mode::ListPorts));
    result.error = parser.Parse(args);
    result.ok = result.error.empty();
    return result;
}

std::wstring CliUsage() {
    return L"iap-cli: обновление устройства (камеры и радар-детектор) по последовательному порту.\n"
           L"\n"
           L"Вызов:\n"
           L"  iap-cli [--port PORT]... [--folder DIR] [--settings FILE] [--save-settings FILE]\n"
           L"          [--firmware-pause-ms N] [--wait-device SECONDS] [--trace FILE] [--plain]\n"
           L"  iap-cli --inspect [--folder DIR]\n"
           L"  iap-cli --list-ports [--port PORT]...\n"
           L"  iap-cli --help\n"
           L"\n"
           L"Параметры:\n"
           L"  --port PORT              порт устройства (/dev/ttyUSB0; в Windows COM20); можно несколько раз:\n"
           L"                           порт 1, 2, ... по порядку\n"
           L"                           (без него: переменная IAP_PORTS=путь1:путь2, затем порты системы:\n"
           L"                           /dev/ttyUSB*, /dev/ttyACM*, /dev/ttyS*)\n"
           L"  --folder DIR             папка с файлами обновления и ver.txt (по умолчанию папка программы):\n"
           L"                           AC7811_project.hex, flagdata.bin, audioHead.bin, picHead.bin, rdfwd.bin\n"
           L"  --settings FILE          изменённые настройки устройства (ровно 73 байта); записываются в конце\n"
           L"                           обновления, если отличаются от настроек устройства и не все нули\n"
           L"  --save-settings FILE     сохранить настройки устройства, как они прочитаны (73 байта)\n"
           L"  --firmware-pause-ms N    пауза после прошивки, мс (по умолчанию 10000)\n"
           L"  --wait-device SECONDS    ждать подключения устройства до SECONDS секунд: новые порты\n"
           L"                           проверяются сразу, молчащие порты раз в 10 с (без него: один поиск)\n"
           L"  --trace FILE             диагностический журнал в файл (\"-\": в стандартный вывод)\n"
           L"  --plain                  простые строки хода обновления даже в терминале\n"
           L"  --inspect                показать файлы обновления в папке; устройство не нужно\n"
           L"  --list-ports             показать порты с их номерами\n"
           L"  --help, -h               эта справка\n"
           L"\n"
           L"Коды завершения:\n"
           L"  0   обновление завершено успешно (также --inspect, --list-ports, --help)\n"
           L"  1   обновление не удалось, прервано (Ctrl-C) или файл обновления отвергнут (тогда к устройству\n"
           L"      не подключались); для --inspect: папку нельзя прочитать или файл отвергнут\n"
           L"  2   ни на одном порту устройство не ответило\n"
           L"  64  ошибка в параметрах (неизвестный параметр, файл настроек не найден или не 73 байта)\n";
}
