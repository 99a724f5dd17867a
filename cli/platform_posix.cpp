// Linux and other POSIX systems: sigaction for the stop signals, isatty, the
// checks of the image and trace files, and doctor's checks of device files,
// groups and programs that hold a port.
#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <linux/magic.h>
#include <pwd.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string_view>

#include "cli/platform.h"
#include "cli/port_identity_text.h"
#include "platform/files.h"
#include "platform/processes.h"
#include "serial/linux_port_scan.h"

namespace cli {
namespace {

std::atomic<Stop_Signal*> g_stop_target{nullptr};
std::atomic<Stop_Signal*> g_asking_target{nullptr};
volatile std::sig_atomic_t g_stop_signal = 0;
std::atomic<int> g_stop_count{0};
static_assert(std::atomic<Stop_Signal*>::is_always_lock_free);
static_assert(std::atomic<int>::is_always_lock_free);

extern "C" void On_Stop_Signal(int signal_number) {
    if (Stop_Signal* asking = g_asking_target.load()) {
        g_stop_signal = signal_number;
        g_stop_count.fetch_add(1);
        asking->Request();
        return;
    }
    Stop_Signal* target = g_stop_target.load();
    if (target == nullptr || g_stop_signal != 0) {
        // Nothing to stop cleanly, or asked a second time: end as the signal
        // does by default, once this handler returns.
        std::signal(signal_number, SIG_DFL);
        std::raise(signal_number);
        return;
    }
    g_stop_signal = signal_number;
    target->Request();
}

std::string User_Name() {
    const passwd* entry = getpwuid(geteuid());
    return entry != nullptr ? entry->pw_name : std::to_string(geteuid());
}

// Whether this process carries the group (its login session has it).
bool Process_Has_Group(gid_t gid) {
    if (getegid() == gid)
        return true;
    const int count = getgroups(0, nullptr);
    if (count <= 0)
        return false;
    std::vector<gid_t> groups(static_cast<std::size_t>(count));
    const int filled = getgroups(count, groups.data());
    for (int i = 0; i < filled; ++i) {
        if (groups[static_cast<std::size_t>(i)] == gid)
            return true;
    }
    return false;
}

// Whether the group database lists the user as a member (it may have been
// added after this login session started).
bool Group_Lists_User(gid_t gid, const std::string& user) {
    const group* entry = getgrgid(gid);
    if (entry == nullptr)
        return false;
    for (char** member = entry->gr_mem; member != nullptr && *member != nullptr; ++member) {
        if (user == *member)
            return true;
    }
    const passwd* account = getpwnam(user.c_str());
    return account != nullptr && account->pw_gid == gid;
}

// "it is a FIFO, not a file": why a path of this type is no file to read or write.
std::string Not_A_File(mode_t mode) {
    if (S_ISDIR(mode))
        return "it is a directory";
    if (S_ISFIFO(mode))
        return "it is a FIFO, not a file";
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return "it is a device, not a file";
    if (S_ISSOCK(mode))
        return "it is a socket, not a file";
    if (S_ISLNK(mode))
        return "it is a symbolic link";
    return "it is not a regular file";
}

constexpr const char* kSystemFiles =
    "it is a file of the running system (/proc or /sys), not a place for a trace";

// The kernel's own file systems, whose files are settings and reports of the
// running system rather than files.
bool Is_System_File_System(const struct statfs& info) {
    static constexpr unsigned long kKernelFileSystems[] = {
        PROC_SUPER_MAGIC,   SYSFS_MAGIC,         DEBUGFS_MAGIC,  TRACEFS_MAGIC, SECURITYFS_MAGIC,
        CGROUP_SUPER_MAGIC, CGROUP2_SUPER_MAGIC, EFIVARFS_MAGIC, BPF_FS_MAGIC};
    const auto type = static_cast<unsigned long>(info.f_type);
    return std::find(std::begin(kKernelFileSystems), std::end(kKernelFileSystems), type) !=
           std::end(kKernelFileSystems);
}

bool Is_System_File(int fd) {
    struct statfs info {};
    return fstatfs(fd, &info) == 0 && Is_System_File_System(info);
}

// Whether path, or the directory a new file of that name would go into, is
// on one of the kernel's file systems.
bool In_System_Files(const std::string& path) {
    struct statfs info {};
    if (statfs(path.c_str(), &info) == 0)
        return Is_System_File_System(info);
    const std::size_t slash = path.rfind('/');
    const std::string directory = slash == std::string::npos ? "."
                                  : slash == 0               ? "/"
                                                             : path.substr(0, slash);
    return statfs(directory.c_str(), &info) == 0 && Is_System_File_System(info);
}

File_Identity Identity_Of(const struct stat& info) {
    return {static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino)};
}

void Explain_Permission(const std::string& path, const struct stat& info,
                        Port_Diagnosis& diagnosis) {
    const std::string group = platform::Device_Group(path);
    const std::string user = User_Name();
    diagnosis.lines.push_back("the device belongs to group '" + group + "'");
    if (Process_Has_Group(info.st_gid)) {
        diagnosis.lines.push_back("you (" + user + ") are in group '" + group +
                                  "', yet the device refuses you: check its mode and any "
                                  "security policy");
    } else if (Group_Lists_User(info.st_gid, user)) {
        diagnosis.lines.push_back("you (" + user + ") were added to group '" + group +
                                  "' after this login began: log out and back in (or run "
                                  "'newgrp " +
                                  group + "')");
    } else {
        diagnosis.lines.push_back("you (" + user + ") are not in group '" + group + "'");
        diagnosis.lines.push_back("fix: sudo usermod -aG " + group + " " + user +
                                  "   then log out and back in");
    }
}

}  // namespace

void Install_Stop_Handlers() {
    struct sigaction action {};
    action.sa_handler = On_Stop_Signal;
    sigemptyset(&action.sa_mask);
    // The port's waits see the stop through its pipe, so no call needs to be
    // broken off with EINTR.
    action.sa_flags = SA_RESTART;
    for (const int signal_number : {SIGINT, SIGTERM, SIGHUP}) {
        // Whoever started the program with a signal ignored (nohup, a
        // script's job in the background) wants the update to outlive it.
        struct sigaction current {};
        if (sigaction(signal_number, nullptr, &current) == 0 && current.sa_handler == SIG_IGN)
            continue;
        sigaction(signal_number, &action, nullptr);
    }
    // A closed pipe on the output (flashtool-cli ... | head -1) must not end
    // an update half-way: writes fail with EPIPE instead and are dropped.
    std::signal(SIGPIPE, SIG_IGN);
    // Nor may a file size limit reached by the trace: the write fails with
    // EFBIG and the trace is reported incomplete at the end.
    std::signal(SIGXFSZ, SIG_IGN);
}

void Set_Stop_Target(Stop_Signal* stop) {
    g_stop_target.store(stop);
}

void Set_Asking_Stop_Target(Stop_Signal* stop) {
    g_asking_target.store(stop);
}

int Stop_Signal_Count() {
    return g_stop_count.load();
}

int Stop_Signal_Number() {
    return g_stop_signal;
}

std::string Stop_Signal_Name(int signal_number) {
    switch (signal_number) {
        case SIGINT:
            return "Ctrl-C";
        case SIGTERM:
            return "SIGTERM";
        case SIGHUP:
            return "SIGHUP";
        default:
            return "signal " + std::to_string(signal_number);
    }
}

bool Is_Terminal(std::FILE* stream) {
    return isatty(fileno(stream)) == 1;
}

int Terminal_Columns(std::FILE* stream) {
    winsize size{};
    if (ioctl(fileno(stream), TIOCGWINSZ, &size) != 0)
        return 0;
    return size.ws_col;
}

int Terminal_Rows(std::FILE* stream) {
    winsize size{};
    if (ioctl(fileno(stream), TIOCGWINSZ, &size) != 0)
        return 0;
    return size.ws_row;
}

bool Enable_Cursor_Moves(std::FILE* stream) {
    const char* term = std::getenv("TERM");
    return Is_Terminal(stream) && !(term != nullptr && std::string_view(term) == "dumb");
}

void Prepare_Console() {}

std::string Image_File_Problem(const std::string& path, File_Identity& identity,
                               File_Handle* opened) {
    // Links are followed: an image reached through one is still the image.
    struct stat info {};
    if (stat(path.c_str(), &info) != 0)
        return std::strerror(errno);
    if (!S_ISREG(info.st_mode))
        return Not_A_File(info.st_mode);
    // Non-blocking, in case a FIFO took the file's place since the check.
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return std::strerror(errno);
    const auto refuse = [fd](std::string why) {
        close(fd);
        return why;
    };
    if (fstat(fd, &info) != 0)
        return refuse(std::strerror(errno));
    if (!S_ISREG(info.st_mode))
        return refuse(Not_A_File(info.st_mode));
    identity = Identity_Of(info);
    if (opened == nullptr)
        return refuse({});
    if (fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0)
        return refuse(std::strerror(errno));
    opened->reset(fdopen(fd, "rb"));
    if (!*opened)
        return refuse(std::strerror(errno));
    return {};
}

std::FILE* Open_Output_File(const std::string& path, const std::optional<File_Identity>& keep,
                            std::string& problem) {
    const auto refused = [&](std::string why) -> std::FILE* {
        problem = std::move(why);
        return nullptr;
    };
    struct stat info {};
    if (lstat(path.c_str(), &info) == 0 && !S_ISREG(info.st_mode))
        return refused(Not_A_File(info.st_mode));
    // Writing there would change the running system, and keep no trace.
    if (In_System_Files(path))
        return refused(kSystemFiles);
    // A new file is created for its owner alone: the trace holds the phone's
    // boot loader, as the dump does. An existing one is opened without being
    // truncated yet, since it may turn out to be the image. O_NOFOLLOW and
    // O_NONBLOCK keep a link or a FIFO put in its place meanwhile from being
    // followed or from blocking the open.
    constexpr int kFlags = O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
    bool created = true;
    int fd = open(path.c_str(), kFlags | O_CREAT | O_EXCL, 0600);
    if (fd < 0 && errno == EEXIST) {
        created = false;
        fd = open(path.c_str(), kFlags);
    }
    if (fd < 0)
        return refused(errno == ELOOP ? "it is a symbolic link" : std::strerror(errno));
    const auto refuse = [&](std::string why) -> std::FILE* {
        close(fd);
        return refused(std::move(why));
    };
    if (fstat(fd, &info) != 0)
        return refuse(std::strerror(errno));
    if (!S_ISREG(info.st_mode))
        return refuse(Not_A_File(info.st_mode));
    if (keep && Identity_Of(info) == *keep)
        return refuse("it is the image file");
    if (Is_System_File(fd))
        return refuse(kSystemFiles);
    if (!created) {
        // Root may open anyone's file: a file of another user's, or a name
        // of a file that has others, may be a victim planted for the trace
        // to overwrite.
        if (info.st_uid != geteuid())
            return refuse("it belongs to another user");
        if (info.st_nlink > 1)
            return refuse("it has other names (hard links)");
        if ((info.st_mode & 077) != 0 && fchmod(fd, 0600) != 0)
            return refuse(std::strerror(errno));
    }
    if (ftruncate(fd, 0) != 0 || fcntl(fd, F_SETFL, 0) != 0)
        return refuse(std::strerror(errno));
    std::FILE* file = fdopen(fd, "w");
    if (file == nullptr)
        return refuse(std::strerror(errno));
    return file;
}

Port_Candidate Named_Port(const std::string& name) {
    return {name, name, 0};
}

bool Is_No_Such_Device(int open_error) {
    return open_error == ENOENT || open_error == ENOTDIR;
}

Port_Diagnosis Diagnose_Port(const Port_Candidate& candidate, CComport& port) {
    Port_Diagnosis diagnosis;
    const std::string& path = candidate.device_path;
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) {
        const int error = errno;
        diagnosis.present = false;
        diagnosis.lines.push_back("not present: " + std::string(std::strerror(error)));
        // An unplugged device that a program still holds keeps its name
        // taken: the phone then comes back under the next one.
        for (const std::string& holder : platform::Port_Holders(path)) {
            diagnosis.lines.push_back("the unplugged device is still held open by " + holder +
                                      ": a phone plugged in again gets another name until it "
                                      "lets go");
        }
        return diagnosis;
    }
    diagnosis.lines.push_back(std::string("present") +
                              (S_ISCHR(info.st_mode) ? "" : " (but not a character device)"));
    if (const std::string identity = Identity_Text(serial::Port_Identity_Of(path));
        !identity.empty())
        diagnosis.lines.push_back(identity);

    const bool opened = port.Open(path);
    const int error = opened ? 0 : port.Last_Open_Error();
    const Open_Refusal refusal = opened ? Open_Refusal::kNone : port.Last_Open_Refusal();
    port.Close();
    const std::vector<std::string> holders = platform::Port_Holders(path);

    if (opened) {
        diagnosis.usable = true;
        diagnosis.lines.push_back("opens and takes the line settings: the phone search can use it");
    } else if (refusal == Open_Refusal::kNoPermission) {
        diagnosis.lines.push_back("open refused: permission denied");
        Explain_Permission(path, info, diagnosis);
    } else if (refusal == Open_Refusal::kInUse) {
        diagnosis.lines.push_back("open refused: another program holds the port");
    } else if (refusal == Open_Refusal::kNotASerialPort) {
        diagnosis.lines.push_back("open refused: not a serial port");
    } else if (refusal == Open_Refusal::kOwnTerminal) {
        diagnosis.lines.push_back("open refused: it is the terminal this program runs in");
    } else if (error != 0) {
        diagnosis.lines.push_back("open failed: " + std::string(std::strerror(error)));
    } else {
        diagnosis.lines.push_back("opened, but could not be set up as a serial port (115200 8N1)");
    }
    for (const std::string& holder : holders) {
        diagnosis.lines.push_back("also open in " + holder +
                                  ": it may read or write the phone's bytes; close it first");
    }
    return diagnosis;
}

std::vector<std::string> Diagnose_System() {
    std::vector<std::string> lines;
    // A process name is anybody's to take: only the system's own service is
    // worth stopping, told by its service or else by the program it runs.
    std::vector<std::string> services, unknown, look_alikes;
    for (const std::string& pid : platform::Processes_Named("ModemManager")) {
        const std::string service = platform::Process_Service(pid);
        const std::string program = platform::Process_Program(pid);
        if (service == "ModemManager.service" ||
            (service.empty() &&
             (program == "/usr/sbin/ModemManager" || program == "/sbin/ModemManager"))) {
            services.push_back(pid);
        } else if (service.empty() && program.empty()) {
            unknown.push_back(pid);
        } else {
            look_alikes.push_back("ModemManager: pid " + pid + " is named ModemManager but " +
                                  (service.empty() ? "runs " + program : "belongs to " + service) +
                                  ", not the system's service");
        }
    }
    const std::string fix = "sudo systemctl stop ModemManager   (start it again afterwards)";
    if (!services.empty()) {
        lines.push_back("ModemManager: running (pid " + services.front() +
                        "); it probes new USB serial devices and can seize the phone's port in "
                        "the middle of an update");
        lines.push_back("fix for the update: " + fix);
    } else if (!unknown.empty()) {
        lines.push_back("ModemManager: pid " + unknown.front() +
                        " may be the service (what it runs is not told to you); if it is, it "
                        "can seize the phone's port in the middle of an update");
        lines.push_back("fix for the update, if it is the service: " + fix);
    } else {
        lines.push_back("ModemManager: not running");
    }
    lines.insert(lines.end(), look_alikes.begin(), look_alikes.end());
    return lines;
}

}  // namespace cli
