// Runs a program for a benchmark and reports what it cost: wall time from fork
// to exit, exit code, peak resident memory (from wait4) and its standard
// output. A program that overruns its time limit is killed.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

namespace bench {

using Clock = std::chrono::steady_clock;

inline double Seconds_Since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

struct Program_Run {
    int exit_code = -1;  // -1: did not start, killed or overran
    double seconds = 0;
    long peak_rss_kib = 0;  // the child's own peak resident set (ru_maxrss)
    std::string out;        // standard output and standard error together
};

inline Program_Run Run_Program(const std::vector<std::string>& args, double time_limit_s,
                               const std::vector<std::string>& extra_env = {}) {
    Program_Run run;
    char out_path[] = "/tmp/bench-out-XXXXXX";
    const int out_fd = mkstemp(out_path);
    if (out_fd < 0)
        return run;
    std::vector<char*> argv;
    for (const std::string& arg : args)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);

    const auto start = Clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        const int null_fd = open("/dev/null", O_RDONLY);
        dup2(null_fd, STDIN_FILENO);
        dup2(out_fd, STDOUT_FILENO);
        dup2(out_fd, STDERR_FILENO);
        for (const std::string& assignment : extra_env)
            putenv(const_cast<char*>(assignment.c_str()));
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(out_fd);
    if (pid > 0) {
        int status = 0;
        rusage usage{};
        for (;;) {
            const pid_t done = wait4(pid, &status, WNOHANG, &usage);
            if (done == pid)
                break;
            if (Seconds_Since(start) > time_limit_s) {
                kill(pid, SIGKILL);
                wait4(pid, &status, 0, &usage);
                status = -1;
                break;
            }
            // Fine enough for runs of a tenth of a second and more; the
            // figures that need better come from in-process clocks.
            std::this_thread::sleep_for(std::chrono::microseconds(500));
        }
        run.seconds = Seconds_Since(start);
        run.peak_rss_kib = usage.ru_maxrss;
        if (status != -1 && WIFEXITED(status))
            run.exit_code = WEXITSTATUS(status);
    }
    std::ifstream file(out_path, std::ios::binary);
    run.out.assign(std::istreambuf_iterator<char>(file), {});
    std::filesystem::remove(out_path);
    return run;
}

}  // namespace bench
