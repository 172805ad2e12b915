// CSerialObject: the receiver of the serial port's bytes and of the news that its line went away.
#pragma once

#include <cstdint>
#include <string>

class CSerialObject {
public:
    virtual ~CSerialObject() = default;
    // Called on the port's reader thread with each received chunk (1 to 1024 bytes, never 0), in
    // arrival order.
    virtual int OnReceive(const uint8_t* data, uint32_t length) = 0;
    // The open line failed: a read or a write failed (adapter unplugged, device switched off, far end
    // hung up). `reason` is the operating system's text ("Input/output error"). Called at most once per
    // successful CSerial::Open, never during Open or Close, on the thread that met the failure: the
    // reader thread for a read, the writing thread (the command sender) for a write.
    // The port stays open and its reader keeps polling until someone closes it, but not from inside
    // this call: Close joins the reader thread, so the receiver closes from another thread.
    virtual void OnLineError(const std::string& reason) { (void)reason; }
    // The device stopped taking data: a write could not finish within its bound (the frame's wire
    // time plus a slack); `written` of its `length` bytes had left after `waitedMs`. The same rules as
    // OnLineError (once per open, shared with it, on the writing thread, no Close from inside). The
    // default takes it for a lost line.
    virtual void OnWriteStalled(uint32_t written, uint32_t length, uint32_t waitedMs) {
        (void)written;
        (void)length;
        (void)waitedMs;
        OnLineError("the device does not take data");
    }
};
