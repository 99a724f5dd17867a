// Runs the real flashtool-cli program for a test: its arguments in, its exit
// code, standard output and standard error out. Optionally sends a signal
// (Ctrl-C's SIGINT by default) once a condition holds, and again once another does, closes its
// standard output after the first line as `| head -1` does, or stops reading it with a small pipe
// between (a reader that hangs), sets environment variables, limits the
// size of the files it may write, starts it with some signals ignored (as nohup does) or some
// standard streams closed, or runs it as the user nobody. The child starts with every other signal
// at its default and none blocked, whatever the test runner inherited.
#pragma once

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

struct Cli_Run {
    int exit_code = -1;  // -1: killed (it overran the time limit), died of a signal, did not start
    int killed_by = 0;   // the signal that ended it, 0 if it exited
    std::string out;
    std::string err;
    double seconds = 0;                   // from start to exit
    double interrupted_after = -1;        // seconds from start to the signal, if one was sent
    double interrupted_again_after = -1;  // and to the second, if one was sent
    long peak_memory_kib = 0;             // the child's peak resident memory
    double cpu_seconds = 0;               // the child's user and system time
};

struct Cli_Options {
    std::string interrupt_when_out_contains;  // empty: never interrupt (unless interrupt_when)
    std::function<bool(const Cli_Run&)> interrupt_when;  // checked every 100 ms at most
    // Once interrupted: when to send the signal a second time (never if empty).
    std::function<bool(const Cli_Run&)> interrupt_again_when;
    int signal = SIGINT;                      // what "interrupt" sends
    bool close_out_after_first_line = false;  // the reader of `| head -1`
    bool never_read_out = false;             // a reader that hangs: the pipe fills, nothing is read
    int out_pipe_bytes = 0;                  // the output pipe's capacity; 0: the system's
    rlim_t file_size_limit = RLIM_INFINITY;  // RLIMIT_FSIZE in the child
    std::vector<std::string> environment;    // NAME=value, set in the child
    std::vector<int> ignored_signals;        // SIG_IGN at start, as nohup leaves SIGHUP
    std::vector<int> closed_streams;         // 0, 1, 2: closed at start
    bool as_nobody = false;                  // an ordinary user, when run as root
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
    if (options.out_pipe_bytes > 0)
        fcntl(out_pipe[1], F_SETPIPE_SZ, options.out_pipe_bytes);
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const std::string& arg : args)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);

    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(out_pipe[1], STDOUT_FILENO);
        dup2(err_pipe[1], STDERR_FILENO);
        // An ignored signal stays ignored across exec: start from the defaults
        // so that only the program itself can protect itself.
        for (int signal_number = 1; signal_number < NSIG; ++signal_number)
            signal(signal_number, SIG_DFL);
        for (const int signal_number : options.ignored_signals)
            signal(signal_number, SIG_IGN);
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        for (const int stream : options.closed_streams)
            close(stream);
        if (options.as_nobody && geteuid() == 0 &&
            (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0))
            _exit(126);
        for (const std::string& setting : options.environment)
            putenv(const_cast<char*>(setting.c_str()));
        if (options.file_size_limit != RLIM_INFINITY) {
            const rlimit limit{options.file_size_limit, options.file_size_limit};
            setrlimit(RLIMIT_FSIZE, &limit);
        }
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    close(out_pipe[1]);
    close(err_pipe[1]);
    const auto since_start = [&] {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    };
    const auto time_to_interrupt = [&] {
        if (options.interrupt_when)
            return options.interrupt_when(run);
        return !options.interrupt_when_out_contains.empty() &&
               run.out.find(options.interrupt_when_out_contains) != std::string::npos;
    };

    pollfd fds[2] = {{out_pipe[0], POLLIN, 0}, {err_pipe[0], POLLIN, 0}};
    std::string* sinks[2] = {&run.out, &run.err};
    int open_pipes = pid > 0 ? 2 : 0;
    const bool out_unread = options.never_read_out && pid > 0;
    if (out_unread) {
        fds[0].fd = -1;  // kept open, never read: closed once the program has ended
        --open_pipes;
    }
    bool killed = false;
    while (open_pipes > 0) {
        if (run.interrupted_after < 0 && time_to_interrupt()) {
            kill(pid, options.signal);
            run.interrupted_after = since_start();
        } else if (run.interrupted_after >= 0 && run.interrupted_again_after < 0 &&
                   options.interrupt_again_when && options.interrupt_again_when(run)) {
            kill(pid, options.signal);
            run.interrupted_again_after = since_start();
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
            }
            const bool reader_leaves = i == 0 && options.close_out_after_first_line &&
                                       run.out.find('\n') != std::string::npos;
            if (got <= 0 || reader_leaves) {
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
        rusage usage{};
        // With its output gone, the program may still be running: wait for it.
        while (!killed) {
            const pid_t done = wait4(pid, &status, WNOHANG, &usage);
            if (done == pid)
                break;
            if (since_start() * 1000 > options.time_limit_ms) {
                kill(pid, SIGKILL);
                killed = true;
            }
            usleep(10000);
        }
        if (killed)
            wait4(pid, &status, 0, &usage);
        if (!killed && WIFEXITED(status))
            run.exit_code = WEXITSTATUS(status);
        if (WIFSIGNALED(status))
            run.killed_by = WTERMSIG(status);
        run.peak_memory_kib = usage.ru_maxrss;
        run.cpu_seconds =
            static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
            static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    }
    run.seconds = since_start();
    if (out_unread)
        close(out_pipe[0]);
    return run;
}
