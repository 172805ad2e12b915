// Words for the user about serial ports: the port list and why a port could not be used.
#pragma once

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "engine/ScanReport.h"
#include "ui/DisplayText.h"  // PortFindingText
// "Устройство не ответило ... Проверены: ..." naming each port tried and its reason.
std::wstring NoDeviceText(const ScanReport& tried);
// iap-cli --list-ports: the ports with their numbers; an empty list says how to give ports. Returns 0.
int ListPorts(std::FILE* out);
