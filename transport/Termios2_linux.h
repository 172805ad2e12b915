// Linux's termios2 interface, the only way to program a rate that has no B-constant (256000).
// <asm/termbits.h> cannot share a translation unit with <termios.h>, so these plain functions live in
// their own file. Linux only; any thread may call them on a descriptor it owns.
#pragma once

#include <cstdint>

#if defined(__linux__)

// Sets both directions of the open tty `fd` to `baud` (BOTHER). 1 on success; 0 with errno kept.
int Termios2SetSpeed(int fd, uint32_t baud);

struct Termios2Speed {
    uint32_t outputBaud = 0;
    uint32_t inputBaud = 0;
    bool other = false;  // the rate is given in the speed fields (BOTHER), not as a B-constant
};
// Reads the speeds of `fd`. On a pty master they are the slave's. 1 on success; 0 with errno kept.
int Termios2GetSpeed(int fd, Termios2Speed* speed);

#endif
