// The handshake the engine hands its serial port: the device-information request 'E' with the port
// byte, and the device's answer 'F' (0x46) to it. Stateless; any thread.
#pragma once

#include "transport/SerialProbe.h"

class CDeviceProbe final : public CSerialProbe {
public:
    std::vector<uint8_t> Request(uint8_t portByte) const override;
    // True when at least a whole frame's worth arrived and byte 3 is 0x46, or when a valid 0x46 frame
    // stands anywhere in it (line noise before the answer).
    bool IsAnswer(const uint8_t* data, int count) const override;
};
