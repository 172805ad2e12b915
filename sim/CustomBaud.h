// Sets a serial device to a rate that has no B-constant (256000 has none), through the Linux
// termios2 interface. Kept apart because <asm/termbits.h> clashes with <termios.h>.
#pragma once

// Returns 1 when the driver took the rate, 0 otherwise (errno kept).
int SetCustomBaud(int fd, unsigned baud);
