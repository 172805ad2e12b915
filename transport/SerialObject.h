// CSerialObject: the receiver of the serial port's bytes.
#pragma once

#include <cstdint>

class CSerialObject {
public:
    virtual ~CSerialObject() = default;
    // Called on the port's reader thread with each received chunk (1 to 1024 bytes, never 0), in
    // arrival order.
    virtual int OnReceive(const uint8_t* data, uint32_t length) = 0;
};
