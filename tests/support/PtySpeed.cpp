// The kernel's own terminal settings, which carry speeds outside the classic
// table; kept apart because they clash with <termios.h>.
#include <asm/termbits.h>
#include <sys/ioctl.h>

namespace testsupport {

int TerminalSpeed(int fd) {
    termios2 tio {};
    if (::ioctl(fd, TCGETS2, &tio) != 0) {
        return -1;
    }
    return static_cast<int>(tio.c_ospeed);
}

}  // namespace testsupport
