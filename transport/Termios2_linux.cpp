// Compiled on every platform by the glob; only Linux has termios2.
#if defined(__linux__)

#include "transport/Termios2_linux.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

int Termios2SetSpeed(int fd, uint32_t baud) {
    struct termios2 tio {};
    if (ioctl(fd, TCGETS2, &tio) != 0) return 0;
    // Clear the input rate too (CIBAUD), or the driver keeps reading at the old one.
    tio.c_cflag &= ~static_cast<tcflag_t>(CBAUD | (CBAUD << IBSHIFT));
    tio.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
    tio.c_ispeed = baud;
    tio.c_ospeed = baud;
    return ioctl(fd, TCSETS2, &tio) == 0 ? 1 : 0;
}

int Termios2GetSpeed(int fd, Termios2Speed* speed) {
    if (speed == nullptr) return 0;
    struct termios2 tio {};
    if (ioctl(fd, TCGETS2, &tio) != 0) return 0;
    speed->outputBaud = tio.c_ospeed;
    speed->inputBaud = tio.c_ispeed;
    speed->other = (tio.c_cflag & CBAUD) == BOTHER;
    return 1;
}

#endif
