#include "app/cli/CliOptions.h"

#include <cerrno>
#include <cstdlib>

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
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        auto value = [&](std::string& into) {
            if (i + 1 >= args.size()) {
                result.error = "параметру " + arg + " нужно значение";
                return false;
            }
            into = args[++i];
            if (into.empty()) {
                result.error = "у параметра " + arg + " пустое значение";
                return false;
            }
            return true;
        };
        std::string text;
        if (arg == "--port") {
            if (!value(text)) return result;
            options.ports.push_back(text);
        } else if (arg == "--folder") {
            if (!value(options.folder)) return result;
        } else if (arg == "--settings") {
            if (!value(options.settingsFile)) return result;
        } else if (arg == "--save-settings") {
            if (!value(options.saveSettingsFile)) return result;
        } else if (arg == "--trace") {
            if (!value(options.traceFile)) return result;
        } else if (arg == "--firmware-pause-ms") {
            if (!value(text)) return result;
            if (!ParseMilliseconds(text, options.firmwarePauseMs)) {
                result.error = "--firmware-pause-ms ждёт число миллисекунд, а не \"" + text + "\"";
                return result;
            }
        } else if (arg == "--test-wait-slice-ms") {
            if (!value(text)) return result;
            if (!ParseMilliseconds(text, options.waitSliceMs) || options.waitSliceMs == 0 || options.waitSliceMs > 600000) {
                result.error = "--test-wait-slice-ms ждёт число миллисекунд от 1 до 600000, а не \"" + text + "\"";
                return result;
            }
        } else if (arg == "--wait-device") {
            if (!value(text)) return result;
            if (!ParseMilliseconds(text, options.waitDeviceSeconds) || options.waitDeviceSeconds == 0 ||
                options.waitDeviceSeconds > 86400) {
                result.error = "--wait-device ждёт число секунд от 1 до 86400, а не \"" + text + "\"";
                return result;
            }
        } else if (arg == "--plain") {
            options.plainProgress = true;
        } else if (arg == "--inspect") {
            options.mode = CliOptions::Mode::Inspect;
        } else if (arg == "--list-ports") {
            options.mode = CliOptions::Mode::ListPorts;
        } else if (arg == "--help" || arg == "-h") {
            options.mode = CliOptions::Mode::Help;
        } else {
            result.error = "неизвестный параметр: " + arg;
            return result;
        }
    }
    result.ok = true;
    return result;
}

std::wstring CliUsage() {
    return L"iap-cli: обновление устройства (камеры и радар-детектор) по последовательному порту.\n"
           L"\n"
           L"Вызов:\n"
           L"  iap-cli [--port PATH]... [--folder DIR] [--settings FILE] [--save-settings FILE]\n"
           L"          [--firmware-pause-ms N] [--wait-device SECONDS] [--trace FILE] [--plain]\n"
           L"  iap-cli --inspect [--folder DIR]\n"
           L"  iap-cli --list-ports [--port PATH]...\n"
           L"  iap-cli --help\n"
           L"\n"
           L"Параметры:\n"
           L"  --port PATH              порт устройства; можно несколько раз: порт 1, 2, ... по порядку\n"
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
           L"  --help                   эта справка\n"
           L"\n"
           L"Коды завершения:\n"
           L"  0   обновление завершено успешно (также --inspect, --list-ports, --help)\n"
           L"  1   обновление не удалось, прервано (Ctrl-C) или файл обновления отвергнут (тогда к устройству\n"
           L"      не подключались); для --inspect: папку нельзя прочитать или файл отвергнут\n"
           L"  2   ни на одном порту устройство не ответило\n"
           L"  64  ошибка в параметрах (неизвестный параметр, файл настроек не найден или не 73 байта)\n";
}
