// CSerial: the one serial port through which the tool talks to the device.
//
// Open() opens a port by number, does the handshake its owner hands it (CSerialProbe: a request written
// directly, and the test of the answer; the port itself knows no protocol), and only when the answer
// comes back switches the line to 256000 baud 8N1, tells its open hook (sender
// restart, device identification request) and starts the reader thread. The reader polls the port and
// hands every chunk of received bytes to the receiver on the reader thread. The first read or write
// that fails on an open line is reported to the receiver (CSerialObject::OnLineError), once per open.
//
// Threads: Open/Close are called by one controlling thread (the engine's connect thread or the thread
// that stops the engine); Write by one thread at a time: the command sender thread, the reader thread
// from inside the receiver (the command queue sends the next packet as its answer arrives), or Open's
// probe; the receiver runs on the reader thread. Reads and writes use the port at the same time
// without a lock; transfer-state reads return at once, so a write never waits behind a read.
//
// Every operation returns 0 on failure and never throws; the OS reason goes to the trace.
//
// Port numbers map to devices through PortList.h; port 0 and numbers beyond the list do not exist.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "transport/AutoThread.h"
#include "transport/MuTexObject.h"
#include "transport/PortList.h"

class CSerialObject;
class CSerialOpenHook;
class CSerialProbe;
class CSerialBackend;
struct SerialLineSettings;

// Line settings values as the Win32 DCB has them.
constexpr uint8_t SERIAL_PARITY_NONE = 0;
constexpr uint8_t SERIAL_ONE_STOP_BIT = 0;
constexpr uint32_t SERIAL_TRANSFER_BAUD = 256000;
// The front ends start the engine with this limit: the port scan tries numbers 1 up to it, not it.
constexpr uint32_t SERIAL_PORT_LIMIT = 50;
constexpr uint32_t SERIAL_STOP_WAIT_MS = 2000;
constexpr int SERIAL_READ_CHUNK = 1024;

class CSerial : public CAutoThread, public CMuTexObject {
public:
    // Close waits at most this long for written bytes to leave before it discards the rest.
    static constexpr uint32_t kCloseDrainMs = 500;
    // receiver may be null (set later); reserved is ignored. readerPauseMs bounds each pass of the
    // reader: it waits at most that long for bytes, and pauses that long after a failed read.
    CSerial(CSerialObject* receiver, int reserved, uint32_t readerPauseMs);
    // The same over a given back end (tests inject faults this way); null means the platform's.
    CSerial(std::unique_ptr<CSerialBackend> backend, CSerialObject* receiver, uint32_t readerPauseMs);
    ~CSerial() override;

    // Why the last Open failed, in words a user can act on ("", "missing", "busy", "permission", ...).
    enum class OpenError { None, Missing, PermissionDenied, Busy, LineSettings, NoAnswer, Other };

    int SetReceiver(CSerialObject* receiver);
    // Not owned; null means nothing is asked after the handshake.
    void SetOpenHook(CSerialOpenHook* hook);
    // Not owned; Open refuses every port while none is set.
    void SetProbe(const CSerialProbe* probe);

    // The back ends a device search opens its ports on, one per port (null: the platform's). Set
    // before the first search; tests set scripted ones.
    void SetBackendFactory(std::function<std::unique_ptr<CSerialBackend>()> factory);

    // Closes any open port, then opens, probes and switches `port` to the transfer line (see above).
    // Nonzero on success; 0 leaves the port closed, with the reason in LastOpenError().
    int Open(uint8_t port, uint32_t baud, uint8_t byteSize, uint8_t parity, uint8_t stopBits);
    // The same for the first of `candidates` that answers, all of them probed at once (PortSearch.h).
    // `tried` gets each port as a one-by-one scan would have reported it. `stop` calls it off.
    int OpenFirstAnswering(const std::vector<PortCandidate>& candidates, uint32_t baud, uint8_t byteSize,
                           uint8_t parity, uint8_t stopBits, const std::atomic<bool>& stop,
                           std::vector<std::pair<std::string, OpenError>>& tried);
    // The port number of the open port (or of the last one opened), 0 before any.
    unsigned OpenedPort() const { return openedPort_.load(); }
    // Reprograms an open port with DTR low and RTS high. 0 when closed or refused (byte size 5..8,
    // parity 0..2 and stop bits 0 or 2 are the values the POSIX back end accepts).
    int SetLineParams(uint32_t baud, uint8_t byteSize, uint8_t parity, uint8_t stopBits);
    // Writes the probe's request for `portByte` and reads under the handshake time-outs until the
    // probe takes what arrived as its answer (1) or the handshake wait (about a second) has passed (0).
    // Only valid before the reader runs (Open calls it).
    int Probe(uint8_t portByte);
    // 1 when every byte was written; 0 for null data, a zero length or a closed port. A failure on an
    // open line is reported to the receiver on the calling thread; so is a write that cannot finish
    // within its bound (the frame's wire time plus kSerialWriteSlackMs), as a stalled write.
    int Write(const uint8_t* data, uint32_t length);
    // Waits until what was written has left the port, at most timeoutMs (the writer's thread). 1 when
    // it has; 0 on time-out, when closed or when the line failed.
    int DrainOutput(uint32_t timeoutMs);
    // Stops the reader, then closes the device; harmless on a closed port. Reports nothing.
    void Close();
    bool IsOpen() const;
    // True from the report of a failed line until the next Open or Close.
    bool LineFailed() const { return lineFailed_.load(); }

    OpenError LastOpenError() const { return lastOpenError_.load(); }
    // The device path (POSIX) or name (Windows) of the last port Open tried; empty when that port
    // number has no device.
    std::string LastPortName() const;

protected:
    int Run() override;

private:
    // The line as Open and SetLineParams program it: 8N1-style values as given, RTS on, DTR as asked.
    static SerialLineSettings LineSettings(uint32_t baud, uint8_t byteSize, uint8_t parity, uint8_t stopBits,
                                           bool dtr);
    // Asks the back end for its low-latency receive mode and traces the outcome; never fails.
    void RequestLowLatency(const std::string& path);
    // Records why Open failed, traces it with the OS reason, closes what is open; returns 0.
    int FailOpen(OpenError error, const char* what);
    // Open's part once the device has answered on `port` at `path`: the transfer line, the hook, the
    // reader.
    int FinishOpen(unsigned port, const std::string& path, uint8_t portByte);
    void SetLastPortName(const std::string& path);
    // The back end in use; a search swaps in the one its answering port was opened on, while other
    // threads may still ask whether the port is open, so every use takes its own reference.
    std::shared_ptr<CSerialBackend> Backend() const { return backend_.load(); }
    // Tells the receiver that the line failed, the first time only since Open; `what` names the
    // operation. Call on the failing thread, right after the failure (the OS reason is per thread).
    void ReportLineError(const char* what);
    // The same for a write that ran out of its bound (OnWriteStalled).
    void ReportWriteStalled(uint32_t written, uint32_t length, uint32_t waitedMs);
    // True for the first failure since Open (and marks the line failed); false for every later one.
    bool TakeLineFailure();

    std::atomic<CSerialObject*> receiver_{nullptr};
    std::atomic<CSerialOpenHook*> openHook_{nullptr};
    std::atomic<const CSerialProbe*> probe_{nullptr};
    const uint32_t readerPauseMs_;
    std::atomic<std::shared_ptr<CSerialBackend>> backend_;
    std::function<std::unique_ptr<CSerialBackend>()> backendFactory_;  // controlling thread only
    std::atomic<unsigned> openedPort_{0};
    std::atomic<OpenError> lastOpenError_{OpenError::None};
    // Set when an Open succeeds, cleared by the first failure report and by Close: one report per open.
    std::atomic<bool> lineUp_{false};
    std::atomic<bool> lineFailed_{false};
    mutable std::mutex nameMutex_;
    std::string lastPortName_;
};
