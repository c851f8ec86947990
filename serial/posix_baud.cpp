// The line speed through termios2, which takes any rate (14 400 has no B constant). Kept apart
// from <termios.h>, whose struct termios the kernel header would redefine.
#include <asm/ioctls.h>
#include <asm/termbits.h>
#include <sys/ioctl.h>

namespace quorvane {

bool SetTerminalSpeed(int fd, int rate) {
    struct termios2 tio;
    if (::ioctl(fd, TCGETS2, &tio) != 0)
        return false;
    const unsigned speed = static_cast<unsigned>(rate);
    if (tio.c_ospeed == speed && tio.c_ispeed == speed)
        return true;
    tio.c_cflag &= ~(CBAUD | (CBAUD << IBSHIFT));
    tio.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
    tio.c_ispeed = speed;
    tio.c_ospeed = speed;
    return ::ioctl(fd, TCSETS2, &tio) == 0;
}

} // namespace quorvane
