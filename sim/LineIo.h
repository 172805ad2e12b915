// The simulator's end of the line: the master side of a pseudo-terminal it creates, or a serial
// device it is given. Both are raw and non-blocking. Single-threaded use.
//
// In pty mode the slave stays open here too: a tool that closes and reopens the slave (it does so
// while scanning ports) would otherwise leave the master in a permanent hang-up (EIO). Bytes the
// simulator writes while no tool has the slave open wait in the slave's input queue.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>

class CLineIo {
public:
    CLineIo() = default;
    ~CLineIo();  // closes both ends and removes the link (only if it still points at our slave)
    CLineIo(const CLineIo&) = delete;
    CLineIo& operator=(const CLineIo&) = delete;

    // Creates a raw pty. linkPath non-empty: a symlink to the slave; a stale symlink there is
    // replaced, any other file is left alone and fails the call. Returns 1, or 0 with a reason.
    int OpenPty(const std::string& linkPath, std::string& error);
    // Makes the symlink of OpenPty later (OpenPty was given no link). Returns 1, or 0 with a reason.
    int MakeLink(const std::string& linkPath, std::string& error);
    // Opens a serial device raw, 8N1, at `baud` (a non-standard rate through termios2; if the
    // driver refuses it, the nearest standard rate below). Returns 1, or 0 with a reason.
    int OpenDevice(const std::string& path, unsigned baud, std::string& error);

    // Pty mode with a link: the port goes away as an unplugged USB device does. Both ends close (the
    // tool's descriptor of the old slave sees a hang-up) and the link is removed. Fd() is -1 until
    // Reopen.
    void GoAway();
    // A new pty under the same link, as the device enumerating again. Returns 1, or 0 with a reason.
    int Reopen(std::string& error);
    bool Away() const { return fd_ < 0; }

    // The slave path in pty mode, the device path otherwise.
    const std::string& Path() const { return path_; }
    int Fd() const { return fd_; }

    // Reads what is there: the count (0 = nothing now), or -1 on a hard error.
    ssize_t Read(uint8_t* buffer, size_t size);
    // Writes what the line takes now: the count (0 = full), or -1 on a hard error.
    ssize_t Write(const uint8_t* data, size_t size);
    // Bytes written but not yet taken by the other side: unread by the tool on a pty, not yet
    // transmitted on a device. 0 when unknown. Closing the pty master discards them.
    int PendingForPeer() const;

private:
    int fd_ = -1;
    int slaveKeepAlive_ = -1;
    std::string path_;
    std::string linkPath_;
};
