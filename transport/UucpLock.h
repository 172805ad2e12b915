// UUCP lock files: the old convention by which serial programs (minicom, ModemManager's helpers,
// gpsd, uucp itself) claim a port: a file /var/lock/LCK..NAME holding the owner's process id, as ten
// ASCII digits and a newline (or, from older programs, as a binary int). Such a program may not take
// flock or TIOCEXCL, so a port whose lock names a running process is left alone.
// POSIX only; a pure look at the folder, any thread.
#pragma once

#include <string>

// The process id a live lock of the device `devicePath` in `lockFolder` names; 0 when there is no
// lock, it is stale (its process has gone), unreadable, or names this process.
int LiveUucpLockHolder(const std::string& lockFolder, const std::string& devicePath);
