// doctor's reading of a port: what the system says of the device, who may
// open it, and what the open came to, worded for the user. Device files and
// their groups where ports are files (Linux); CreateFileA's errors where
// ports are COM names the system maps (Windows).
#include "cli/port_diagnosis.h"

#include <algorithm>
#include <cctype>

#include "cli/port_identity_text.h"
#include "platform/devices.h"
#include "platform/files.h"
#include "platform/processes.h"

namespace cli {
namespace {

void Explain_Permission(const std::string& path, Port_Diagnosis& diagnosis) {
    const std::string group = platform::Device_Group(path);
    const std::string user = platform::User_Name();
    diagnosis.lines.push_back("the device belongs to group '" + group + "'");
    switch (platform::Device_Group_Standing(path)) {
        case platform::Group_Standing::kMember:
            diagnosis.lines.push_back("you (" + user + ") are in group '" + group +
                                      "', yet the device refuses you: check its mode and any "
                                      "security policy");
            break;
        case platform::Group_Standing::kAddedAfterLogin:
            diagnosis.lines.push_back("you (" + user + ") were added to group '" + group +
                                      "' after this login began: log out and back in (or run "
                                      "'newgrp " +
                                      group + "')");
            break;
        case platform::Group_Standing::kNotMember:
            diagnosis.lines.push_back("you (" + user + ") are not in group '" + group + "'");
            diagnosis.lines.push_back("fix: sudo usermod -aG " + group + " " + user +
                                      "   then log out and back in");
            break;
    }
}

// A COM port: there is no file to look at, only what the open says.
Port_Diagnosis Diagnose_Com_Port(const Port_Candidate& candidate, CComport& port) {
    Port_Diagnosis diagnosis;
    const bool opened = port.Open(candidate.device_path);
    const int error = opened ? 0 : port.Last_Open_Error();
    port.Close();
    if (opened) {
        diagnosis.usable = true;
        diagnosis.lines.push_back("opens and takes the line settings: the phone search can use it");
        return diagnosis;
    }
    switch (platform::Open_Error_Kind(error)) {
        case platform::Open_Error::kAccessDenied:
            diagnosis.lines.push_back(
                "present, but another program holds the port: close it first");
            break;
        case platform::Open_Error::kNoSuchDevice:
            diagnosis.lines.push_back("not present: is the phone plugged in with key 1 held?");
            break;
        case platform::Open_Error::kDeviceFailed:
            diagnosis.lines.push_back(
                "attached, but the device does not work: unplug and replug it");
            break;
        case platform::Open_Error::kOther:
            diagnosis.lines.push_back("open failed: " + platform::Open_Error_Text(error));
            break;
        case platform::Open_Error::kNone:
            diagnosis.lines.push_back(
                "opened, but could not be set up as a serial port (115200 8N1)");
            break;
    }
    return diagnosis;
}

}  // namespace

Port_Diagnosis Diagnose_Port(const Port_Candidate& candidate, CComport& port) {
    if (!platform::Ports_Are_Device_Files())
        return Diagnose_Com_Port(candidate, port);
    Port_Diagnosis diagnosis;
    const std::string& path = candidate.device_path;
    const platform::Device_File device = platform::Look_At_Device(path);
    if (!device.present) {
        diagnosis.present = false;
        diagnosis.lines.push_back("not present: " + device.absent_because);
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
                              (device.character_device ? "" : " (but not a character device)"));
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
        Explain_Permission(path, diagnosis);
    } else if (refusal == Open_Refusal::kInUse) {
        diagnosis.lines.push_back("open refused: another program holds the port");
    } else if (refusal == Open_Refusal::kNotASerialPort) {
        diagnosis.lines.push_back("open refused: not a serial port");
    } else if (refusal == Open_Refusal::kOwnTerminal) {
        diagnosis.lines.push_back("open refused: it is the terminal this program runs in");
    } else if (error != 0) {
        diagnosis.lines.push_back("open failed: " + platform::Open_Error_Text(error));
    } else {
        diagnosis.lines.push_back("opened, but could not be set up as a serial port (115200 8N1)");
    }
    for (const std::string& holder : holders) {
        diagnosis.lines.push_back("also open in " + holder +
                                  ": it may read or write the phone's bytes; close it first");
    }
    return diagnosis;
}

std::vector<std::string> Port_Number_Lines(const std::vector<Port_Candidate>& ports) {
    int highest = 0;
    std::vector<std::string> usb_ids;  // "1D6B0104", as the system's key names them
    for (const Port_Candidate& port : ports) {
        highest = std::max(highest, static_cast<int>(port.number));
        if (!port.identity.Is_Usb())
            continue;
        std::string id = port.identity.usb_vendor_id + port.identity.usb_product_id;
        for (char& c : id)
            c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        if (std::find(usb_ids.begin(), usb_ids.end(), id) == usb_ids.end())
            usb_ids.push_back(id);
    }
    std::vector<std::string> lines;
    lines.push_back(
        "COM numbers: Windows gives every phone (every USB serial number) a COM number of its own "
        "and keeps it, so the numbers grow with each new phone" +
        (highest > 0 ? " (the highest here now: COM" + std::to_string(highest) + ")" : "") + ".");
    lines.push_back(
        "  no harm is done: the station and the phone search try every port, COM10 and above "
        "too");
    lines.push_back(
        "  to free the old numbers: Device Manager > View > Show hidden devices, then uninstall "
        "the greyed-out entries under Ports (COM & LPT)");
    lines.push_back(
        "  to keep one number per socket (Windows then ignores the phones' serial numbers), as an "
        "administrator, then plug the phones in again:");
    const std::string key =
        "reg add HKLM\\SYSTEM\\CurrentControlSet\\Control\\UsbFlags /v IgnoreHWSerNum";
    if (usb_ids.empty()) {
        lines.push_back("    " + key +
                        "VVVVPPPP /t REG_BINARY /d 01 /f   (VVVV, PPPP: the phone's USB vendor "
                        "and product numbers, as flashtool-cli ports shows them)");
    }
    for (const std::string& id : usb_ids)
        lines.push_back("    " + key + id + " /t REG_BINARY /d 01 /f");
    return lines;
}

std::vector<std::string> Diagnose_System() {
    if (!platform::Processes_Are_Listed())
        return {};
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
