/*
 * Serial-port transport ('S'): the named device in raw 8N1 mode at the baud
 * rate given as the handle's parameter, opened exclusively.
 */
#include "rvcomm.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace {

bool baud_to_speed(uint32_t baud, speed_t *speed)
{
    static const struct {
        uint32_t baud;
        speed_t speed;
    } table[] = {{1200, B1200},     {2400, B2400},     {4800, B4800},    {9600, B9600},
                 {19200, B19200},   {38400, B38400},   {57600, B57600},  {115200, B115200},
                 {230400, B230400}, {460800, B460800}, {921600, B921600}};
    for (const auto &entry : table) {
        if (entry.baud == baud) {
            *speed = entry.speed;
            return true;
        }
    }
    return false;
}

int serial_open(rvcomm *comm)
{
    const int fd = ::open(comm->name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        printf("CreateFile failed with error %d.\n", errno);
        printf("Error: rvserial_open create serial failed.\n");
        return -1;
    }
    termios tio{};
    speed_t speed{};
    const bool configured = ioctl(fd, TIOCEXCL) == 0 && tcgetattr(fd, &tio) == 0 &&
                            baud_to_speed(comm->parameter, &speed);
    if (configured) {
        /* Raw bytes: the frames are binary, no line discipline may touch them. */
        cfmakeraw(&tio);
        tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB);
        tio.c_cflag |= CS8 | CLOCAL | CREAD;
        tio.c_cc[VMIN] = 1;
        tio.c_cc[VTIME] = 0;
        cfsetispeed(&tio, speed);
        cfsetospeed(&tio, speed);
    }
    if (!configured || tcsetattr(fd, TCSANOW, &tio) != 0) {
        ::close(fd);
        printf("Error: rvserial_open create serial failed.\n");
        return -1;
    }
    tcflush(fd, TCIOFLUSH);
    comm->fd.store(fd);
    printf("rvserial_open: success:%d\n", fd);
    return 0;
}

int serial_close(rvcomm *comm)
{
    const int fd = comm->fd.exchange(RVCOMM_CLOSED);
    if (fd != RVCOMM_CLOSED)
        ::close(fd);
    return 0;
}

int serial_read(rvcomm *comm, uint8_t *buf, int len)
{
    const int fd = comm->fd.load();
    if (fd == RVCOMM_CLOSED || len < 0)
        return -1;
    const ssize_t n = ::read(fd, buf, static_cast<size_t>(len));
    if (n < 0)
        return errno == EAGAIN || errno == EINTR ? 0 : -1;
    return static_cast<int>(n);
}

int serial_write(rvcomm *comm, const uint8_t *buf, int len)
{
    const int fd = comm->fd.load();
    if (fd == RVCOMM_CLOSED || len < 0)
        return -1;
    const ssize_t n = ::write(fd, buf, static_cast<size_t>(len));
    return n < 0 ? -1 : static_cast<int>(n);
}

rvcomm_ops serial_table = {serial_open, serial_close, serial_read, serial_write,
                           0,           nullptr,      nullptr,     0};

} // namespace

rvcomm_ops *rvcomm_serial_ops()
{
    return &serial_table;
}
