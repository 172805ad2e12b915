// The device search: every candidate port opened and probed at the same time, each on a thread and
// a back end of its own, with the handshake CSerial::Open does (SerialHandshake.h). Of the ports that
// answer it keeps the one a search that tried them one by one would have kept: the first in candidate
// order, once every port before it has given up. The others are closed without another byte written.
// A port whose open does not return within the handshake wait is given up; its thread ends, closing
// the port, when the open returns, and touches nothing of the search but its own record. Ports marked
// `last` are tried only when none of the others answered.
//
// Threads: SearchPorts runs on the caller's thread and returns when the search is decided; `probe`
// and `makeBackend` are used on it and on the probe threads it joins before it returns.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "transport/PortList.h"
#include "transport/Serial.h"
#include "transport/SerialBackend.h"

class CSerialProbe;

using SerialBackendFactory = std::function<std::unique_ptr<CSerialBackend>()>;

struct PortProbeOutcome {
    std::string path;
    CSerial::OpenError error = CSerial::OpenError::Other;
};

struct PortSearchResult {
    // The ports as a one-by-one search would have tried them: in candidate order, up to and with the
    // one kept (all of them when none answered).
    std::vector<PortProbeOutcome> tried;
    // The kept port: its candidate, and its back end, open at the handshake line, the answer read.
    PortCandidate kept;
    std::unique_ptr<CSerialBackend> backend;
};

// `handshakeLine` is the line the ports are probed at (DTR on); `portByte(candidate)` the number the
// request tells the device. `stop` calls the search off (no port kept).
PortSearchResult SearchPorts(const std::vector<PortCandidate>& candidates, const SerialLineSettings& handshakeLine,
                             const CSerialProbe& probe, const std::function<uint8_t(const PortCandidate&)>& portByte,
                             const SerialBackendFactory& makeBackend, const std::atomic<bool>& stop);
