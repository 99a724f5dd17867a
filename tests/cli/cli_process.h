// Runs the real flashtool-cli program for a test: its arguments in, its exit
// code, standard output and standard error out. Optionally sends Ctrl-C
// (SIGINT) once some text has appeared on its standard output.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

struct Cli_Run {
    int exit_code = -1;  // -1: killed (it overran the time limit) or did not start
    std::string out;
    std::string err;
    double seconds = 0;             // from start to exit
    double interrupted_after = -1;  // seconds from start to the SIGINT, if one was sent
};

struct Cli_Options {
    std::string interrupt_when_out_contains;  // empty: never interrupt
    int time_limit_ms = 120000;
};

inline Cli_Run Run_Cli(const std::vector<std::string>& args, const Cli_Options& options = {}) {
    Cli_Run run;
    const std::string program = FLASHTOOL_CLI_PATH;
    int out_pipe[2];
    int err_pipe[2];
    if (pipe2(out_pipe, O_CLOEXEC) != 0)
        return run;
    if (pipe2(err_pipe, O_CLOEXEC) != 0) {
        close(out_pipe[0]);
        close(out_pipe[1]);
        return run;
    }
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const std::string& arg : args)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);

    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(out_pipe[1], STDOUT_FILENO);
        dup2(err_pipe[1], STDERR_FILENO);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    close(out_pipe[1]);
    close(err_pipe[1]);
    const auto since_start = [&] {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    };

    pollfd fds[2] = {{out_pipe[0], POLLIN, 0}, {err_pipe[0], POLLIN, 0}};
    std::string* sinks[2] = {&run.out, &run.err};
    int open_pipes = pid > 0 ? 2 : 0;
    bool killed = false;
    while (open_pipes > 0) {
        if (!options.interrupt_when_out_contains.empty() && run.interrupted_after < 0 &&
            run.out.find(options.interrupt_when_out_contains) != std::string::npos) {
            kill(pid, SIGINT);
            run.interrupted_after = since_start();
        }
        const int left_ms = options.time_limit_ms - static_cast<int>(since_start() * 1000);
        if (left_ms <= 0) {
            kill(pid, SIGKILL);
            killed = true;
            break;
        }
        if (poll(fds, 2, left_ms < 100 ? left_ms : 100) < 0)
            continue;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || (fds[i].revents & (POLLIN | POLLHUP)) == 0)
                continue;
            char chunk[4096];
            const ssize_t got = read(fds[i].fd, chunk, sizeof chunk);
            if (got > 0) {
                sinks[i]->append(chunk, static_cast<std::size_t>(got));
            } else {
                close(fds[i].fd);
                fds[i].fd = -1;
                --open_pipes;
            }
        }
    }
    for (const pollfd& fd : fds) {
        if (fd.fd >= 0)
            close(fd.fd);
    }
    if (pid > 0) {
        int status = 0;
        waitpid(pid, &status, 0);
        if (!killed && WIFEXITED(status))
            run.exit_code = WEXITSTATUS(status);
    }
    run.seconds = since_start();
    return run;
}
