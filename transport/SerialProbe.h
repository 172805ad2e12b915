// The handshake Open does on a port that was just opened: the bytes it writes, and the test that
// what came back answers them. The port knows no protocol, so its owner supplies both (the engine:
// the device-information request and the device's answer to it); tests may supply their own.
//
// Threads: called on the thread that calls CSerial::Open, before the reader thread starts; the
// object must outlive every Open that uses it.
#pragma once

#include <cstdint>
#include <vector>

class CSerialProbe {
public:
    virtual ~CSerialProbe() = default;
    // The bytes to write to a port that the device knows as `portByte` (PortByte in PortList.h).
    virtual std::vector<uint8_t> Request(uint8_t portByte) const = 0;
    // True when the bytes read so far, from the first byte after the request, answer it. Called
    // again with more bytes until it is true or the handshake wait has passed.
    virtual bool IsAnswer(const uint8_t* data, int count) const = 0;
};
