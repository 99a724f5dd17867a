// A PostgreSQL server of a test's own: a cluster made by initdb in a
// temporary directory, its postgres listening on a Unix socket there and on
// no network port, stopped (and the directory removed) when the test ends.
// It can be stopped and started again on the same data, as a line's server
// that goes away for a while. PostgreSQL refuses to run as root, so a test
// run as root runs the server as the system's "postgres" user.
#pragma once

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

namespace test_support {

class Postgres_Server {
  public:
    Postgres_Server() {
        m_bin = Find_Bin();
        if (m_bin.empty()) {
            m_error = "no PostgreSQL server programs in /usr/lib/postgresql/*/bin";
            return;
        }
        char name[] = "/tmp/flashtool-pg-XXXXXX";
        if (mkdtemp(name) == nullptr) {
            m_error = "no temporary directory";
            return;
        }
        m_dir = name;
        if (geteuid() == 0) {
            const passwd* user = getpwnam("postgres");
            if (user == nullptr) {
                m_error = "running as root, and there is no user postgres to run the server as";
                return;
            }
            m_uid = user->pw_uid;
            m_gid = user->pw_gid;
            if (chown(m_dir.c_str(), m_uid, m_gid) != 0) {
                m_error = "cannot give the directory to postgres";
                return;
            }
        }
        // trust on the socket alone: the directory is the server's own.
        if (Run_And_Wait({m_bin + "/initdb", "-D", Data(), "-A", "trust", "-U", kUser, "--no-sync",
                          "-E", "UTF8", "--locale=C"}) != 0) {
            m_error = "initdb failed";
            return;
        }
        Start();
    }
    ~Postgres_Server() {
        Stop();
        if (!m_dir.empty()) {
            std::error_code ignored;
            std::filesystem::remove_all(m_dir, ignored);
        }
    }
    Postgres_Server(const Postgres_Server&) = delete;
    Postgres_Server& operator=(const Postgres_Server&) = delete;

    bool Running() const { return m_pid > 0; }
    const std::string& Error() const { return m_error; }
    // A libpq connection string for the server's socket.
    std::string Conninfo(const std::string& database = "postgres") const {
        return "host=" + m_dir + " port=" + std::to_string(kPort) + " user=" + kUser +
               " dbname=" + database;
    }
    const std::string& Socket_Directory() const { return m_dir; }

    // Starts the server on its data; true once it takes connections.
    bool Start() {
        if (m_pid > 0 || m_dir.empty())
            return m_pid > 0;
        m_pid = Spawn({m_bin + "/postgres", "-D", Data(), "-k", m_dir, "-p", std::to_string(kPort),
                       "-c", "listen_addresses=", "-c", "fsync=off", "-c", "full_page_writes=off",
                       "-c", "max_connections=40"},
                      m_dir + "/server.log");
        const std::string socket = m_dir + "/.s.PGSQL." + std::to_string(kPort);
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (std::chrono::steady_clock::now() < end) {
            int status = 0;
            if (waitpid(m_pid, &status, WNOHANG) == m_pid) {
                m_pid = -1;
                m_error = "postgres exited at start; see " + m_dir + "/server.log";
                return false;
            }
            // The socket's lock file is written once it accepts connections.
            if (std::filesystem::exists(socket) && Ready())
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        m_error = "postgres did not take connections within 60 s";
        return false;
    }
    // Stops it at once (fast shutdown: connections are cut), as a server
    // that goes away does.
    void Stop() {
        if (m_pid <= 0)
            return;
        kill(m_pid, SIGINT);
        int status = 0;
        waitpid(m_pid, &status, 0);
        m_pid = -1;
    }

  private:
    static constexpr const char* kUser = "flashtool";
    static constexpr int kPort = 5432;  // only names the socket: no network port is opened

    std::string Data() const { return m_dir + "/data"; }

    bool Ready() const {
        return Run_And_Wait(
                   {m_bin + "/pg_isready", "-q", "-h", m_dir, "-p", std::to_string(kPort)}) == 0;
    }

    static std::string Find_Bin() {
        std::error_code error;
        std::string best;
        for (const auto& entry :
             std::filesystem::directory_iterator("/usr/lib/postgresql", error)) {
            const std::string bin = entry.path().string() + "/bin";
            if (std::filesystem::exists(bin + "/postgres") && bin > best)
                best = bin;
        }
        return best;
    }

    // The child runs as the server's user; its output goes to log (or is
    // dropped).
    pid_t Spawn(const std::vector<std::string>& args, const std::string& log = "") const {
        std::vector<char*> argv;
        for (const std::string& arg : args)
            argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        const pid_t pid = fork();
        if (pid == 0) {
            const int out = open(log.empty() ? "/dev/null" : log.c_str(),
                                 O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
            if (out >= 0) {
                dup2(out, 1);
                dup2(out, 2);
            }
            if (m_uid != static_cast<uid_t>(-1)) {
                if (!log.empty() && out >= 0 && fchown(out, m_uid, m_gid) != 0)
                    _exit(126);
                if (setgroups(0, nullptr) != 0 || setgid(m_gid) != 0 || setuid(m_uid) != 0)
                    _exit(126);
            }
            sigset_t none;
            sigemptyset(&none);
            sigprocmask(SIG_SETMASK, &none, nullptr);
            execv(argv[0], argv.data());
            _exit(127);
        }
        return pid;
    }
    int Run_And_Wait(const std::vector<std::string>& args) const {
        const pid_t pid = Spawn(args, m_dir.empty() ? "" : m_dir + "/tools.log");
        if (pid < 0)
            return -1;
        int status = 0;
        if (waitpid(pid, &status, 0) != pid)
            return -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    std::string m_bin;
    std::string m_dir;
    std::string m_error;
    uid_t m_uid = static_cast<uid_t>(-1);
    gid_t m_gid = static_cast<gid_t>(-1);
    pid_t m_pid = -1;
};

}  // namespace test_support
