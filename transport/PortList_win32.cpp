// Windows numbers its serial ports itself: port n is "\\.\COMn", which also reaches COM10 and above.
#include <string>

#include "transport/PortListScan.h"

// Windows offers no enumeration among the comm calls this tool uses; the numbers are the list.
std::vector<std::string> SystemPortList() { return {}; }

std::string SystemPortPath(unsigned port) {
    return port == 0 ? std::string() : "\\\\.\\COM" + std::to_string(port);
}
