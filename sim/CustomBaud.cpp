#include "sim/CustomBaud.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

int SetCustomBaud(int fd, unsigned baud) {
#if defined(TCGETS2) && defined(BOTHER)
    struct termios2 tio {};
    if (ioctl(fd, TCGETS2, &tio) != 0) return 0;
    tio.c_cflag &= ~(CBAUD | (CBAUD << IBSHIFT));
    tio.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
    tio.c_ispeed = baud;
    tio.c_ospeed = baud;
    return ioctl(fd, TCSETS2, &tio) == 0 ? 1 : 0;
#else
    (void)fd;
    (void)baud;
    return 0;
#endif
}
