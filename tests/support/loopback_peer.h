/*
 * A UDP socket on a loopback address standing in for the camera in tests: it
 * receives what the link sends, remembers the sender, and answers it.
 */
#ifndef TESTS_LOOPBACK_PEER_H
#define TESTS_LOOPBACK_PEER_H

#include <arpa/inet.h>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

/* Receive threads of this process: the link names them Tele_Recv. */
inline int receive_threads()
{
    int count = 0;
    for (const auto &task : std::filesystem::directory_iterator("/proc/self/task")) {
        std::ifstream comm(task.path() / "comm");
        std::string name;
        count += std::getline(comm, name) && name == "Tele_Recv";
    }
    return count;
}

struct LoopbackPeer {
    explicit LoopbackPeer(const char *address = "127.0.0.1")
    {
        fd = socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in local{};
        local.sin_family = AF_INET;
        inet_pton(AF_INET, address, &local.sin_addr);
        bind(fd, reinterpret_cast<sockaddr *>(&local), sizeof local);
        socklen_t length = sizeof local;
        getsockname(fd, reinterpret_cast<sockaddr *>(&local), &length);
        port = ntohs(local.sin_port);
    }
    ~LoopbackPeer() { close(fd); }
    LoopbackPeer(const LoopbackPeer &) = delete;
    LoopbackPeer &operator=(const LoopbackPeer &) = delete;

    /* The next datagram within `timeout_ms`, remembering its sender; empty when none came. */
    std::vector<uint8_t> receive(int timeout_ms = 2000)
    {
        pollfd pfd = {fd, POLLIN, 0};
        if (poll(&pfd, 1, timeout_ms) != 1)
            return {};
        uint8_t buf[2048];
        socklen_t length = sizeof link;
        const ssize_t n =
            recvfrom(fd, buf, sizeof buf, 0, reinterpret_cast<sockaddr *>(&link), &length);
        return std::vector<uint8_t>(buf, buf + (n > 0 ? n : 0));
    }

    /* Send to the last sender (the link). */
    void send(const std::vector<uint8_t> &bytes) { send_to(link, bytes); }
    void send_to(const sockaddr_in &to, const std::vector<uint8_t> &bytes)
    {
        sendto(fd, bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr *>(&to),
               sizeof to);
    }

    int fd;
    unsigned port;
    sockaddr_in link{};
};

#endif
