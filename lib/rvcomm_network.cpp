/*
 * UDP datagram transport ('N'). The socket is not bound: the system picks the
 * local port at the first send. Datagrams are accepted only from the camera's
 * address, so that no other host on the network can inject frames.
 */
#include "rvcomm.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int network_open(rvcomm *comm)
{
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_port = htons(static_cast<uint16_t>(comm->parameter));
    if (inet_pton(AF_INET, comm->name, &peer.sin_addr) != 1) {
        printf("Error: rvcomm_network_open bad camera address %s.\n", comm->name);
        return -1;
    }
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP);
    if (fd < 0) {
        printf("Error: rvcomm_network_open create socket failed.\n");
        return -1;
    }
    comm->peer = peer;
    comm->fd.store(fd);
    printf("rvcomm_network_open: success:%d\n", fd);
    return 0;
}

int network_close(rvcomm *comm)
{
    const int fd = comm->fd.exchange(RVCOMM_CLOSED);
    if (fd != RVCOMM_CLOSED)
        ::close(fd);
    return 0;
}

int network_read(rvcomm *comm, uint8_t *buf, int len)
{
    const int fd = comm->fd.load();
    if (fd == RVCOMM_CLOSED || len < 0)
        return -1;
    sockaddr_in from{};
    socklen_t from_len = sizeof from;
    const ssize_t n = recvfrom(fd, buf, static_cast<size_t>(len), MSG_DONTWAIT,
                               reinterpret_cast<sockaddr *>(&from), &from_len);
    if (n < 0)
        return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR ? 0 : -1;
    if (from.sin_family != AF_INET || from.sin_addr.s_addr != comm->peer.sin_addr.s_addr)
        return 0; /* not the camera: dropped */
    return static_cast<int>(n);
}

int network_write(rvcomm *comm, const uint8_t *buf, int len)
{
    const int fd = comm->fd.load();
    if (fd == RVCOMM_CLOSED || len < 0)
        return -1;
    const ssize_t n = sendto(fd, buf, static_cast<size_t>(len), MSG_NOSIGNAL,
                             reinterpret_cast<const sockaddr *>(&comm->peer), sizeof comm->peer);
    return n < 0 ? -1 : static_cast<int>(n);
}

rvcomm_ops network_table = {
    network_open, network_close, network_read, network_write, 0, nullptr, nullptr, 0};

} // namespace

rvcomm_ops *rvcomm_network_ops()
{
    return &network_table;
}
