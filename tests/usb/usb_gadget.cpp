// Gadgets through configfs, and finding their ttys on both sides in sysfs.
#include "usb_gadget.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <thread>

namespace usb_rig {
namespace {

constexpr const char* kGadgets = "/sys/kernel/config/usb_gadget";
constexpr milliseconds kPollInterval{20};

std::string Read_Line(const std::string& path) {
    std::ifstream file(path);
    std::string line;
    std::getline(file, line);
    return line;
}

bool Write_Text(const std::string& path, const std::string& text) {
    // configfs takes an attribute in one write.
    std::FILE* file = std::fopen(path.c_str(), "w");
    if (file == nullptr)
        return false;
    const bool written = std::fputs(text.c_str(), file) >= 0;
    return std::fclose(file) == 0 && written;
}

std::vector<std::string> Entries(const std::string& dir) {
    std::vector<std::string> names;
    if (DIR* handle = opendir(dir.c_str())) {
        while (const dirent* entry = readdir(handle)) {
            if (entry->d_name[0] != '.')
                names.emplace_back(entry->d_name);
        }
        closedir(handle);
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::string Hex4(std::uint16_t value) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%04x", value);
    return text;
}

// Gadget directories are named after the process and a count, so that two
// gadgets (and two test programs) never share one.
std::string New_Gadget_Name() {
    static std::atomic<int> count{0};
    return "rig" + std::to_string(getpid()) + "_" + std::to_string(count++);
}

}  // namespace

std::vector<std::string> Controllers() {
    return Entries("/sys/class/udc");
}

bool Wait_Until_Gone(const std::string& path, milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    struct stat status {};
    while (lstat(path.c_str(), &status) == 0) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(kPollInterval);
    }
    return true;
}

Usb_Gadget::Usb_Gadget(Gadget_Spec spec) : m_spec(std::move(spec)) {
    m_dir = std::string(kGadgets) + "/" + New_Gadget_Name();
    const auto make_dir = [this](const std::string& path) {
        if (mkdir(path.c_str(), 0755) != 0)
            return Fail("mkdir " + path);
        m_made_paths.push_back(path);
        return true;
    };
    const auto write = [this](const std::string& name, const std::string& text) {
        return Write_Text(m_dir + "/" + name, text) || Fail("write " + name);
    };
    if (!make_dir(m_dir) || !write("idVendor", Hex4(m_spec.vendor_id)) ||
        !write("idProduct", Hex4(m_spec.product_id)) || !make_dir(m_dir + "/strings/0x409") ||
        !write("strings/0x409/serialnumber", m_spec.serial) ||
        !write("strings/0x409/manufacturer", m_spec.manufacturer) ||
        !write("strings/0x409/product", m_spec.product) || !make_dir(m_dir + "/configs/c.1"))
        return;
    for (int function = 0; function < m_spec.acm_functions; ++function) {
        const std::string name = "acm.f" + std::to_string(function);
        const std::string instance = m_dir + "/functions/" + name;
        const std::string link = m_dir + "/configs/c.1/" + name;
        if (!make_dir(instance))
            return;
        if (symlink(instance.c_str(), link.c_str()) != 0) {
            Fail("link " + name);
            return;
        }
        m_made_paths.push_back(link);
    }
    m_made = true;
}

Usb_Gadget::~Usb_Gadget() {
    Unplug();
    for (auto path = m_made_paths.rbegin(); path != m_made_paths.rend(); ++path) {
        struct stat status {};
        if (lstat(path->c_str(), &status) == 0 && S_ISLNK(status.st_mode))
            unlink(path->c_str());
        else
            rmdir(path->c_str());
    }
}

bool Usb_Gadget::Fail(const std::string& what) {
    m_error = what + ": " + std::strerror(errno);
    return false;
}

bool Usb_Gadget::Plug() {
    if (!m_made)
        return false;
    if (Plugged())
        return true;
    std::vector<std::string> in_use;
    for (const std::string& gadget : Entries(kGadgets))
        in_use.push_back(Read_Line(std::string(kGadgets) + "/" + gadget + "/UDC"));
    for (const std::string& controller : Controllers()) {
        if (std::find(in_use.begin(), in_use.end(), controller) != in_use.end())
            continue;
        if (!Write_Text(m_dir + "/UDC", controller))
            return Fail("bind to " + controller);
        m_controller = controller;
        return true;
    }
    m_error = "no free dummy controller (tests/usb/guest/modules: dummy_hcd num=)";
    return false;
}

bool Usb_Gadget::Unplug() {
    if (!Plugged())
        return true;
    if (!Write_Text(m_dir + "/UDC", "\n"))
        return Fail("unbind from " + m_controller);
    m_controller.clear();
    return true;
}

std::string Usb_Gadget::Phone_Tty(int function) const {
    const std::string number =
        Read_Line(m_dir + "/functions/acm.f" + std::to_string(function) + "/port_num");
    return number.empty() ? std::string() : "/dev/ttyGS" + number;
}

// The tty whose USB device carries this gadget's serial number, on the
// interface where the function's control interface is (two interfaces each).
std::string Usb_Gadget::Host_Tty(int function) const {
    char interface_number[8];
    std::snprintf(interface_number, sizeof interface_number, "%02x", 2 * function);
    for (const std::string& name : Entries("/sys/class/tty")) {
        if (name.rfind("ttyACM", 0) != 0)
            continue;
        const std::string interface = "/sys/class/tty/" + name + "/device";
        if (Read_Line(interface + "/../serial") == m_spec.serial &&
            Read_Line(interface + "/bInterfaceNumber") == interface_number &&
            access(("/dev/" + name).c_str(), F_OK) == 0)
            return "/dev/" + name;
    }
    return {};
}

std::string Usb_Gadget::Wait_For_Host_Tty(int function, milliseconds limit) const {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        std::string tty = Host_Tty(function);
        if (!tty.empty() || std::chrono::steady_clock::now() >= deadline)
            return tty;
        std::this_thread::sleep_for(kPollInterval);
    }
}

}  // namespace usb_rig
