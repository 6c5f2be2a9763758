#include "sim_process.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

SimProcess::SimProcess(const std::vector<std::string> &args)
{
    std::vector<std::string> argv_text = {Q7SIM_PATH, "--address", "127.0.0.1", "--port", "0"};
    argv_text.insert(argv_text.end(), args.begin(), args.end());
    std::vector<char *> argv;
    for (auto &arg : argv_text)
        argv.push_back(arg.data());
    argv.push_back(nullptr);

    int pipe_fds[2];
    if (pipe(pipe_fds) != 0) {
        error_ = std::strerror(errno);
        return;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipe_fds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, pipe_fds[0]);
    const int spawned = posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(pipe_fds[1]);
    out_ = pipe_fds[0];
    if (spawned != 0) {
        pid_ = -1;
        error_ = std::string("spawn q7sim: ") + std::strerror(spawned);
        return;
    }

    /* The first line names the port: "q7sim listening on 127.0.0.1:PORT". */
    std::string line;
    while (line.find('\n') == std::string::npos) {
        pollfd pfd = {out_, POLLIN, 0};
        if (poll(&pfd, 1, 10000) <= 0) {
            error_ = "q7sim did not report its port";
            return;
        }
        char chunk[128];
        const ssize_t n = read(out_, chunk, sizeof chunk);
        if (n <= 0) {
            error_ = "q7sim ended before reporting its port";
            return;
        }
        line.append(chunk, static_cast<size_t>(n));
    }
    const auto colon = line.rfind(':');
    if (colon == std::string::npos) {
        error_ = "unexpected first line from q7sim: " + line;
        return;
    }
    port_ = static_cast<unsigned>(std::stoul(line.substr(colon + 1)));
}

SimProcess::~SimProcess()
{
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        int status = 0;
        waitpid(pid_, &status, 0);
    }
    if (out_ >= 0)
        close(out_);
}
