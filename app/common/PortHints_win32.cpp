#include "app/common/PortHints.h"

const char* PortOptionHelp() {
    return "порт устройства (например, COM20); можно несколько раз:\n"
           "порт 1, 2, ... по порядку\n"
           "(без него: переменная IAP_PORTS=COM20:COM21, затем COM1, COM2, ...;\n"
           "номер порта устройства виден в диспетчере устройств)";
}

const wchar_t* HowToGivePorts() {
    return L"Укажите порт: iap-cli --port COM20 (можно несколько раз) "
           L"или set IAP_PORTS=COM20:COM21 перед запуском iap-cli; "
           L"номер порта виден в диспетчере устройств (Порты COM и LPT)";
}
