/* Starts q7sim as a child process on a free loopback port for a test. */
#ifndef TESTS_SIM_PROCESS_H
#define TESTS_SIM_PROCESS_H

#include <string>
#include <sys/types.h>
#include <vector>

class SimProcess {
public:
    /* Start q7sim on 127.0.0.1 with a free port and the extra arguments. */
    explicit SimProcess(const std::vector<std::string> &args = {});
    ~SimProcess();
    SimProcess(const SimProcess &) = delete;
    SimProcess &operator=(const SimProcess &) = delete;

    bool running() const { return port_ != 0; }
    unsigned port() const { return port_; }
    /* Why it did not start, when it did not. */
    const std::string &error() const { return error_; }

private:
    pid_t pid_ = -1;
    int out_ = -1;
    unsigned port_ = 0;
    std::string error_;
};

#endif
