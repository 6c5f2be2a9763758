/* The simulated camera's UDP endpoint: receives commands, sends its frames. */
#ifndef Q7SIM_SIM_SERVER_H
#define Q7SIM_SIM_SERVER_H

#include "sim_camera.h"
#include "sim_faults.h"
#include "sim_loader.h"
#include "sim_options.h"
#include "sim_posstore.h"

#include <atomic>
#include <chrono>
#include <netinet/in.h>
#include <string>

namespace q7sim {

class Server {
public:
    explicit Server(const Options &options);
    ~Server();
    Server(const Server &) = delete;
    Server &operator=(const Server &) = delete;

    /* Bind the socket; false with a message in `error`. */
    bool bind(std::string &error);
    uint16_t port() const { return port_; }

    /* Serve until `stop` is set. */
    void run(const std::atomic<bool> &stop);

private:
    void on_datagram(const Bytes &datagram, const sockaddr_in &from);
    void on_frame(const Bytes &frame, const sockaddr_in &from);
    void send(const std::vector<Bytes> &frames);
    double seconds() const;
    bool silent() const;

    Options options_;
    Camera camera_;
    Loader loader_;
    PosStore pos_;
    FaultInjector faults_;
    int fd_ = -1;
    uint16_t port_ = 0;
    bool have_peer_ = false;
    sockaddr_in peer_{};
    std::chrono::steady_clock::time_point start_;
    double hello_at_ = 0;
    bool silenced_ = false; /* the command of --silent-on has arrived */
};

} // namespace q7sim

#endif
