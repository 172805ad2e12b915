// Words for the user about serial ports: the port list and why a port could not be used.
#pragma once

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "transport/Serial.h"
#include "ui/DisplayText.h"  // OpenErrorText
// "Устройство не ответило ... Проверены: ..." naming each port tried and its reason.
std::wstring NoDeviceText(const std::vector<std::pair<std::string, CSerial::OpenError>>& tried);
// iap-cli --list-ports: the ports with their numbers; an empty list says how to give ports. Returns 0.
int ListPorts(std::FILE* out);
