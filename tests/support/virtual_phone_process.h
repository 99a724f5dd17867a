// Starts, stops and inspects the `virtual-phone` program for host-side tests.
//
// Finding the program: a test target that links this header should get
//     target_compile_definitions(<target> PRIVATE
//         VIRTUAL_PHONE_PATH="$<TARGET_FILE:virtual-phone>")
//     add_dependencies(<target> virtual-phone)
// Without that definition the program is looked for under the build directory
// named by the environment variable FLASHTOOL_BUILD_DIR (ctest sets it), at
// tools/virtual_phone/virtual-phone.
//
// Typical use:
//     Virtual_Phone_Files files;                  // a fresh temporary folder
//     Virtual_Phone_Process phone;
//     ASSERT_TRUE(phone.start(files.args({"--fault", "block@2:refuse:0x06"})));
//     ... open phone.device_path() as the serial port ...
//     phone.stop();
//     auto flash = Read_Flash_File(files.flash);  // regions as the phone stored them
//     auto log = Read_Log_Lines(files.log);       // one line per event
//     EXPECT_EQ(Host_Deviations(files.deviations), "");  // the host kept to the protocol
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/host_deviations.h"
#include "tests/support/temp_directory.h"

// Where the phone's files go: a fresh temporary folder, removed afterwards.
struct Virtual_Phone_Files {
    test_support::Temp_Directory directory{"virtual-phone"};
    std::filesystem::path folder = directory.Path();
    std::string flash = directory.File("flash.bin");
    std::string state = directory.File("record.bin");
    std::string log = directory.File("phone.log");
    std::string deviations = state + ".deviations";  // written by the phone beside the state file

    // --flash, --state and --log pointing into the folder, then the extra arguments.
    std::vector<std::string> args(std::initializer_list<std::string> extra = {}) const {
        std::vector<std::string> all = {"--flash", flash, "--state", state, "--log", log};
        all.insert(all.end(), extra.begin(), extra.end());
        return all;
    }
};

class Virtual_Phone_Process {
  public:
    Virtual_Phone_Process() = default;
    ~Virtual_Phone_Process() { stop(); }
    Virtual_Phone_Process(const Virtual_Phone_Process&) = delete;
    Virtual_Phone_Process& operator=(const Virtual_Phone_Process&) = delete;

    static std::string Executable_Path() {
#ifdef VIRTUAL_PHONE_PATH
        return VIRTUAL_PHONE_PATH;
#else
        const char* build = std::getenv("FLASHTOOL_BUILD_DIR");
        return std::string(build ? build : ".") + "/tools/virtual_phone/virtual-phone";
#endif
    }

    // Standard streams the phone starts with closed (not standard output,
    // which carries its device path).
    std::vector<int> closed_streams;

    // Starts the phone and waits (up to 5 s) for its device path.
    bool start(const std::vector<std::string>& args, std::string* error = nullptr) {
        if (!launch(args, error))
            return false;
        auto path = next_device_path(5000);
        if (!path) {
            stop();
            return fail(error, "no device path from " + Executable_Path());
        }
        m_device_path = *path;
        return true;
    }

    // Starts the phone with its cable out (--unplugged): there is no device
    // until plug_in().
    bool start_unplugged(std::vector<std::string> args, std::string* error = nullptr) {
        args.push_back("--unplugged");
        m_device_path.clear();
        return launch(args, error);
    }

    // The cable in (SIGUSR2) or out (SIGUSR1). After plug_in, next_device_path
    // gives the new device; after pull_cable the phone's link goes.
    bool plug_in() const {
        return m_pid > 0 && kill(m_pid, SIGUSR2) == 0;
    }
    bool pull_cable() const {
        return m_pid > 0 && kill(m_pid, SIGUSR1) == 0;
    }

  private:
    bool launch(const std::vector<std::string>& args, std::string* error) {
        stop();
        int out[2];
        if (pipe2(out, O_CLOEXEC) != 0) {
            return fail(error, "pipe");
        }
        const std::string program = Executable_Path();
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>(program.c_str()));
        for (const auto& arg : args) {
            argv.push_back(const_cast<char*>(arg.c_str()));
        }
        argv.push_back(nullptr);
        // The cable signals are blocked from before the fork until the phone
        // takes them, so that one sent at once waits instead of ending it.
        sigset_t cable, before;
        sigemptyset(&cable);
        sigaddset(&cable, SIGUSR1);
        sigaddset(&cable, SIGUSR2);
        pthread_sigmask(SIG_BLOCK, &cable, &before);
        m_pid = fork();
        if (m_pid != 0)
            pthread_sigmask(SIG_SETMASK, &before, nullptr);
        if (m_pid < 0) {
            close(out[0]);
            close(out[1]);
            return fail(error, "fork");
        }
        if (m_pid == 0) {
            dup2(out[1], STDOUT_FILENO);
            for (const int stream : closed_streams)
                close(stream);
            execv(program.c_str(), argv.data());
            _exit(127);
        }
        close(out[1]);
        m_stdout = out[0];
        return true;
    }

  public:
    // The path the phone printed last (it prints a new one when plugged in again).
    const std::string& device_path() const {
        return m_device_path;
    }
    pid_t pid() const {
        return m_pid;
    }
    bool running() const {
        return m_pid > 0;
    }

    // Waits for the next line on the phone's standard output: the new device
    // path after a simulated unplug and re-plug.
    std::optional<std::string> next_device_path(int timeout_ms) {
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
        for (;;) {
            auto newline = m_buffer.find('\n');
            if (newline != std::string::npos) {
                std::string line = m_buffer.substr(0, newline);
                m_buffer.erase(0, newline + 1);
                m_device_path = line;
                return line;
            }
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                            deadline - std::chrono::steady_clock::now())
                            .count();
            if (left <= 0 || m_stdout < 0) {
                return std::nullopt;
            }
            pollfd fd{m_stdout, POLLIN, 0};
            if (poll(&fd, 1, static_cast<int>(left)) <= 0) {
                continue;
            }
            char chunk[256];
            ssize_t got = read(m_stdout, chunk, sizeof chunk);
            if (got <= 0) {
                return std::nullopt;
            }
            m_buffer.append(chunk, static_cast<std::size_t>(got));
        }
    }

    // The child's CPU time (user + system) in seconds, read without reaping it.
    double cpu_seconds() const {
        if (m_pid <= 0) {
            return 0;
        }
        std::ifstream stat("/proc/" + std::to_string(m_pid) + "/stat");
        std::string text((std::istreambuf_iterator<char>(stat)), {});
        auto close_paren = text.rfind(')');
        if (close_paren == std::string::npos) {
            return 0;
        }
        std::vector<std::string> fields;
        std::string field;
        for (char c : text.substr(close_paren + 2)) {
            if (c == ' ') {
                fields.push_back(field);
                field.clear();
            } else {
                field += c;
            }
        }
        // After the name: state is field 0, utime field 11, stime field 12.
        if (fields.size() < 13) {
            return 0;
        }
        const double ticks = static_cast<double>(sysconf(_SC_CLK_TCK));
        return (std::stod(fields[11]) + std::stod(fields[12])) / ticks;
    }

    // SIGTERM and wait (up to 5 s, then SIGKILL). Returns the exit status, or
    // -1 when nothing was running or the phone had to be killed.
    int stop() {
        if (m_pid <= 0) {
            return -1;
        }
        kill(m_pid, SIGTERM);
        int status = 0;
        int result = -1;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        for (;;) {
            pid_t done = waitpid(m_pid, &status, WNOHANG);
            if (done == m_pid) {
                result = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
                break;
            }
            if (done < 0 || std::chrono::steady_clock::now() > deadline) {
                kill(m_pid, SIGKILL);
                waitpid(m_pid, &status, 0);
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        m_pid = -1;
        if (m_stdout >= 0) {
            close(m_stdout);
            m_stdout = -1;
        }
        m_buffer.clear();
        return result;
    }

  private:
    static bool fail(std::string* error, const std::string& why) {
        if (error) {
            *error = why;
        }
        return false;
    }

    pid_t m_pid = -1;
    int m_stdout = -1;
    std::string m_buffer;
    std::string m_device_path;
};

// One flash region as the phone stored it: its start address, the length the
// host announced, and the bytes the phone accepted so far.
struct Virtual_Phone_Region {
    std::uint32_t start = 0;
    std::uint32_t length = 0;
    std::vector<std::uint8_t> bytes;
};

// Reads the phone's flash file; nothing when it is missing or malformed.
// Layout: "VPHFLASH", u32 count, per region u32 start, u32 announced length,
// u32 byte count, bytes (all u32 little-endian).
inline std::optional<std::vector<Virtual_Phone_Region>> Read_Flash_File(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        return std::nullopt;
    }
    std::vector<std::uint8_t> data((std::istreambuf_iterator<char>(file)), {});
    std::size_t at = 0;
    auto u32 = [&](std::uint32_t& value) {
        if (data.size() - at < 4) {
            return false;
        }
        value = std::uint32_t{data[at]} | std::uint32_t{data[at + 1]} << 8 |
                std::uint32_t{data[at + 2]} << 16 | std::uint32_t{data[at + 3]} << 24;
        at += 4;
        return true;
    };
    if (data.size() < 8 || std::memcmp(data.data(), "VPHFLASH", 8) != 0) {
        return std::nullopt;
    }
    at = 8;
    std::uint32_t count = 0;
    if (!u32(count)) {
        return std::nullopt;
    }
    std::vector<Virtual_Phone_Region> regions;
    for (std::uint32_t i = 0; i < count; ++i) {
        Virtual_Phone_Region region;
        std::uint32_t size = 0;
        if (!u32(region.start) || !u32(region.length) || !u32(size) || data.size() - at < size) {
            return std::nullopt;
        }
        region.bytes.assign(data.begin() + static_cast<std::ptrdiff_t>(at),
                            data.begin() + static_cast<std::ptrdiff_t>(at + size));
        at += size;
        regions.push_back(std::move(region));
    }
    if (at != data.size()) {
        return std::nullopt;
    }
    return regions;
}

// The phone's log, one event per line, each "<ms since start> <event>".
inline std::vector<std::string> Read_Log_Lines(const std::string& path) {
    std::ifstream file(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(file, line);) {
        lines.push_back(line);
    }
    return lines;
}

// Whether some log line contains text.
inline bool Log_Contains(const std::string& path, const std::string& text) {
    for (const auto& line : Read_Log_Lines(path)) {
        if (line.find(text) != std::string::npos) {
            return true;
        }
    }
    return false;
}

// Waits until some log line contains text (the phone logs as it goes).
inline bool Wait_For_Log(const std::string& path, const std::string& text, int timeout_ms) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (!Log_Contains(path, text)) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}
