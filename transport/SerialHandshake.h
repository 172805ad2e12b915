// The two halves of the handshake every open of a port does, on a bare back end: the open for the
// handshake (exclusive, purged, handshake time-outs, the scan's line with DTR on), and the probe (the
// owner's request written directly, then reads until its answer test passes or the handshake wait has
// passed). CSerial::Open runs them on its own back end; a device search runs them on one back end per
// port, each on a thread of its own.
//
// Threads: the calling thread drives `backend` alone (as the controlling thread and its reader) for
// the whole call. Failures are traced with the port's path and the OS reason, taken on this thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "transport/Serial.h"
#include "transport/SerialBackend.h"

class CSerialProbe;

// The handshake regime waits 1 ms plus 1 ms per byte of the read buffer for the first byte; a probe
// that goes on reading past line noise stays within the same wait.
constexpr uint32_t kSerialHandshakeWaitMs = 1 + SERIAL_READ_CHUNK;

// Opens `path` for the handshake. None on success; otherwise the device is closed again.
CSerial::OpenError OpenForHandshake(CSerialBackend& backend, const std::string& path, const SerialLineSettings& line);

// Writes `request` and reads until `probe` takes what came back as its answer (true) or the handshake
// wait has passed (false). With `stop`, reads go in short slices and the probe gives up as soon as
// `stop` is set; without, the first read is one read under the handshake time-outs.
bool ProbeForAnswer(CSerialBackend& backend, const CSerialProbe& probe, const std::vector<uint8_t>& request,
                    const std::atomic<bool>* stop);
