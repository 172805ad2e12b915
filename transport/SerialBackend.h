// CSerialBackend: the operating system's side of CSerial, one implementation per platform
// (Serial_posix.cpp over termios, a Win32 one over the comm API). Private to the transport layer and
// its tests; nothing here names a termios or Win32 type.
//
// Threads: OpenDevice, Purge, the time-out regimes, SetLine and CloseDevice are called by the one
// controlling thread (the thread that calls CSerial::Open/Close). Read and ReadAvailable are called by
// one reader at a time (the controlling thread during the handshake, the reader thread afterwards);
// Write by one writer at a time, concurrently with the reader. CloseDevice may run while a Write is in
// progress: the handle is closed only after the write has returned, so no operation ever uses a
// closed or re-used handle (the POSIX back end also makes such a write fail at once; a UART without
// flow control drains by itself, so a back end may instead let the write finish).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

// Line settings with the Win32 DCB's values: parity 0 none, 1 odd, 2 even; stop bits 0 one, 2 two.
struct SerialLineSettings {
    uint32_t baud = 0;
    uint8_t byteSize = 8;
    uint8_t parity = 0;
    uint8_t stopBits = 0;
    bool dtr = true;  // true: the DTR line is asserted
    bool rts = true;  // true: the RTS line is asserted
};

enum class SerialOpenStatus { Ok, Missing, PermissionDenied, Busy, Other };

// How long a transfer write may take: its bytes' time on the wire at the programmed rate, plus a slack
// for the driver, the adapter and a device that is busy for a moment. A write still unfinished then
// belongs to a device that has stopped reading the line (a USB serial device, or a line with flow
// control, holds the writer instead of dropping the bytes).
constexpr uint32_t kSerialWriteSlackMs = 3000;

// Bits a byte takes on the wire: start bit, data bits, parity bit, stop bits.
inline uint32_t SerialBitsPerByte(const SerialLineSettings& line) {
    return 1u + line.byteSize + (line.parity != 0 ? 1u : 0u) + (line.stopBits == 2 ? 2u : 1u);
}

// The bound of a transfer write of `length` bytes at `baud` (0: not programmed yet, the slack alone).
inline uint32_t SerialWriteLimitMs(uint32_t baud, uint32_t bitsPerByte, uint32_t length) {
    if (baud == 0) return kSerialWriteSlackMs;
    const uint64_t wireMs = (uint64_t{length} * bitsPerByte * 1000 + baud - 1) / baud;
    const uint64_t limitMs = wireMs + kSerialWriteSlackMs;
    return limitMs > 0x7FFFFFFF ? 0x7FFFFFFFu : static_cast<uint32_t>(limitMs);
}

// How a write ended. Stalled: the bytes could not all leave within the write's bound (the far end
// stopped taking data); `written` of them had left when it ran out after `limitMs`.
struct SerialWriteResult {
    enum class Status { Done, Failed, Stalled };
    Status status = Status::Failed;
    uint32_t written = 0;
    uint32_t limitMs = 0;
};

// The driver's low-latency mode: On, the driver has no such mode (pseudo-terminals, platforms
// without it; not an error), or it refused (the OS reason in LastErrorText).
enum class SerialLowLatency { On, Unsupported, Failed };

class CSerialBackend {
public:
    virtual ~CSerialBackend() = default;

    // Opens the device for exclusive use (a second opener, in this or another process, gets Busy).
    // Any device this object held is closed first.
    virtual SerialOpenStatus OpenDevice(const std::string& path) = 0;
    // Discards what is queued in both directions. 1 on success, 0 when closed or on failure.
    virtual int Purge() = 0;
    // Discards what was received and not read yet; output already written stays on its way.
    virtual int PurgeInput() = 0;
    // Waits until every byte written so far has left the output queue, at most timeoutMs. 1 when the
    // queue is empty, 0 on time-out, when closed or on failure. Called by the writer, or by the
    // controlling thread before it purges.
    virtual int DrainOutput(uint32_t timeoutMs) = 0;
    // Handshake regime: a Read of n bytes waits up to 1 + n ms for the first byte and returns 1 ms
    // after the last one; a write of n bytes may take up to 500 + 100 * n ms. 1 on success.
    virtual int SetHandshakeTimeouts() = 0;
    // Transfer regime: a Read returns at once with what is buffered; a write of n bytes may take
    // SerialWriteLimitMs for the line SetLine last programmed, and ends at once when the device is
    // closed. 1 on success.
    virtual int SetTransferTimeouts() = 0;
    // Programs the line: raw 8-bit transfer, no flow control, the given rate, frame and modem lines.
    // Modem lines that the device does not have (pseudo-terminals) are not an error. 1 on success.
    virtual int SetLine(const SerialLineSettings& settings) = 0;
    // One read under the current regime. Bytes read (0 when none came), or -1 on failure.
    virtual int Read(uint8_t* buffer, int capacity) = 0;
    // Waits at most waitMs for the first byte, then returns what is buffered without waiting further.
    // Bytes read, 0 when none came in time, -1 on failure (including a far end that hung up); a
    // failure returns at once, so the caller decides how long to pause.
    virtual int ReadAvailable(uint8_t* buffer, int capacity, uint32_t waitMs) = 0;
    // Writes every byte or fails. Done only when all `length` bytes went out; Stalled when the
    // regime's bound ran out first (the OS reason, a time-out, in LastErrorText); Failed otherwise.
    virtual SerialWriteResult Write(const uint8_t* data, uint32_t length) = 0;
    // Asks the driver to hand received bytes over at once rather than when its latency timer runs
    // out (USB adapters hold them up to 16 ms, which a stop-and-wait protocol pays on every answer).
    // The mode the device had comes back at CloseDevice. Controlling thread, on an open device.
    virtual SerialLowLatency RequestLowLatency() { return SerialLowLatency::Unsupported; }
    // Releases the device; harmless when nothing is open.
    virtual void CloseDevice() = 0;
    virtual bool IsOpen() const = 0;
    // The OS reason of the last failed operation on the calling thread ("" when none failed yet), in
    // the system's words: for the trace.
    virtual std::string LastErrorText() const = 0;
    // The same reason in the words a user reads (Russian for the common ones), UTF-8.
    virtual std::string LastErrorTextForUser() const { return LastErrorText(); }
    // The reader thread is about to end: ends what its reads left pending for the next pass (Win32:
    // the armed WaitCommEvent), so that neither the thread's exit nor CloseDevice waits on a driver
    // to honour a cancellation. Reader thread, last call before it returns.
    virtual void EndReading() {}
};

// The platform's back end (defined by the platform's Serial_*.cpp).
std::unique_ptr<CSerialBackend> CreateSerialBackend();
