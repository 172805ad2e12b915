// What the serial port asks of its owner once a device has answered the handshake and the line runs
// at transfer speed: restart the command sender (so the queue starts empty) and queue the device
// identification request for this port. The engine implements it; tests supply their own.
#pragma once

#include <cstdint>

class CSerialOpenHook {
public:
    virtual ~CSerialOpenHook() = default;
    // Called on the thread that calls CSerial::Open, before the reader thread starts.
    virtual void RestartCommandSender() = 0;
    virtual void RequestDeviceInfo(uint8_t port) = 0;
};
