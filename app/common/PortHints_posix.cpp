#include "app/common/PortHints.h"

const char* PortOptionHelp() {
    return "порт устройства (например, /dev/ttyUSB0); можно несколько раз:\n"
           "порт 1, 2, ... по порядку\n"
           "(без него: переменная IAP_PORTS=путь1:путь2, затем порты системы:\n"
           "/dev/ttyUSB*, /dev/ttyACM*, /dev/ttyS*)";
}

const wchar_t* HowToGivePorts() {
    return L"Укажите порт: iap-cli --port /dev/ttyUSB0 (можно несколько раз) "
           L"или IAP_PORTS=/dev/ttyUSB0:/dev/ttyACM0 iap-cli";
}
