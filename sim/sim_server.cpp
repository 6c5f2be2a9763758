#include "sim_server.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace q7sim {

namespace {

bool is_hello(const Bytes &frame)
{
    if (frame.size() != kCommandFrameLength)
        return false;
    for (size_t i = 3; i + 1 < frame.size(); ++i)
        if (frame[i] != 0)
            return false;
    return true;
}

} // namespace

Server::Server(const Options &options)
    : options_(options), camera_(options), loader_(options.loader_image, options.loader_stall_at),
      pos_(options), faults_(options.faults, options.seed), start_(std::chrono::steady_clock::now())
{
}

Server::~Server()
{
    if (fd_ >= 0)
        ::close(fd_);
}

bool Server::bind(std::string &error)
{
    fd_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP);
    if (fd_ < 0) {
        error = std::string("socket: ") + std::strerror(errno);
        return false;
    }
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(options_.port);
    if (inet_pton(AF_INET, options_.address.c_str(), &local.sin_addr) != 1) {
        error = "bad address " + options_.address;
        return false;
    }
    if (::bind(fd_, reinterpret_cast<sockaddr *>(&local), sizeof local) != 0) {
        error = "bind " + options_.address + ":" + std::to_string(options_.port) + ": " +
                std::strerror(errno);
        return false;
    }
    socklen_t length = sizeof local;
    getsockname(fd_, reinterpret_cast<sockaddr *>(&local), &length);
    port_ = ntohs(local.sin_port);
    return true;
}

double Server::seconds() const
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
}

bool Server::silent() const
{
    if (silenced_)
        return true;
    if (options_.faults.silent_after_records >= 0 &&
        pos_.records_sent() >= options_.faults.silent_after_records)
        return true;
    return options_.faults.silent_after >= 0 && have_peer_ &&
           seconds() - hello_at_ >= options_.faults.silent_after;
}

void Server::send(const std::vector<Bytes> &frames)
{
    if (!have_peer_ || silent())
        return;
    for (const Bytes &frame : frames) {
        for (const Bytes &datagram : faults_.apply(frame)) {
            sendto(fd_, datagram.data(), datagram.size(), 0,
                   reinterpret_cast<const sockaddr *>(&peer_), sizeof peer_);
        }
    }
}

void Server::on_frame(const Bytes &frame, const sockaddr_in &from)
{
    if (is_hello(frame)) {
        if (!have_peer_ || options_.verbose) {
            char text[INET_ADDRSTRLEN] = {};
            inet_ntop(AF_INET, &from.sin_addr, text, sizeof text);
            fprintf(stderr, "q7sim: hello from %s:%d\n", text, ntohs(from.sin_port));
        }
        /* Silence counts from the first hello: a camera that lost power stays silent. */
        if (!have_peer_)
            hello_at_ = seconds();
        peer_ = from;
        have_peer_ = true;
        return;
    }
    if (options_.verbose)
        fprintf(stderr, "q7sim: frame of %zu bytes, byte 3 0x%02x\n", frame.size(), frame[3]);
    if (frame.size() >= 11 && frame[7] == kLoaderMessageId && frame[3] != 'C') {
        const int accepted = loader_.images_accepted();
        send(loader_.on_frame(frame));
        /* The controller restarts with the new firmware. */
        if (loader_.images_accepted() != accepted && options_.upgraded_major >= 0)
            camera_.set_firmware(options_.upgraded_major, options_.upgraded_minor);
        return;
    }
    if (frame[3] != 'C' || frame.size() != kCommandFrameLength)
        return;
    if (frame[4] == options_.faults.silent_on)
        silenced_ = true;
    if (PosStore::handles(frame[4]))
        send(pos_.on_command(frame));
    else
        send(camera_.on_command(frame));
}

void Server::on_datagram(const Bytes &datagram, const sockaddr_in &from)
{
    for (const Bytes &frame : split_frames(datagram))
        on_frame(frame, from);
}

void Server::run(const std::atomic<bool> &stop)
{
    const double period = 1.0 / options_.status_rate;
    double next_status = seconds();
    Bytes buffer(2048);
    while (!stop.load()) {
        const double now = seconds();
        if (now >= next_status) {
            camera_.advance(now);
            send(camera_.status_frames());
            next_status += period;
            if (next_status < now)
                next_status = now + period;
            continue;
        }
        send(pos_.pump(now));
        pollfd pfd = {fd_, POLLIN, 0};
        int wait_ms = static_cast<int>((next_status - now) * 1000) + 1;
        if (pos_.busy())
            wait_ms = 1;
        if (poll(&pfd, 1, wait_ms < 100 ? wait_ms : 100) <= 0)
            continue;
        sockaddr_in from{};
        socklen_t from_length = sizeof from;
        const ssize_t n = recvfrom(fd_, buffer.data(), buffer.size(), 0,
                                   reinterpret_cast<sockaddr *>(&from), &from_length);
        if (n <= 0)
            continue;
        camera_.advance(seconds());
        on_datagram(Bytes(buffer.begin(), buffer.begin() + n), from);
    }
}

} // namespace q7sim
