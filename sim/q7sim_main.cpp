/* q7sim: a simulated Q7 camera on UDP, for demonstrations and tests. */
#include "sim_options.h"
#include "sim_server.h"

#include <atomic>
#include <csignal>
#include <cstdio>

namespace {

std::atomic<bool> stop_requested{false};

void on_signal(int)
{
    stop_requested.store(true);
}

} // namespace

int main(int argc, char **argv)
{
    q7sim::Options options;
    std::string error;
    bool help = false;
    if (!q7sim::parse_options(argc, argv, options, error, help)) {
        fprintf(stderr, "q7sim: %s\n%s", error.c_str(), q7sim::usage_text());
        return 2;
    }
    if (help) {
        fputs(q7sim::usage_text(), stdout);
        return 0;
    }
    std::signal(SIGINT, on_signal);
    std::signal(SIGTERM, on_signal);
    std::signal(SIGPIPE, SIG_IGN);

    q7sim::Server server(options);
    if (!server.bind(error)) {
        fprintf(stderr, "q7sim: %s\n", error.c_str());
        return 1;
    }
    printf("q7sim listening on %s:%u\n", options.address.c_str(), server.port());
    fflush(stdout);
    server.run(stop_requested);
    return 0;
}
