// The download command: everything between a click on Download and the
// window being ready for the next click. Load the image, find the phone,
// check and write its version record (dumping the boot loader on a first
// run), announce and send both flash regions, and say how it went.
#pragma once

#include <string>
#include <vector>

#include "bootloader/records.h"
#include "download/download_view.h"
#include "download/firmware_image.h"
#include "serial/comport.h"
#include "serial/port_list.h"

// How a command ended, for callers that report it (the command-line tool's
// exit code); the window ignores it.
enum class Download_Outcome {
    kUpdated,                   // every block accepted and the success box shown
    kImageNotLoaded,            // the image was refused or could not be read
    kPhoneNotFound,             // no boot loader answered the search
    kStoppedBeforeProgramming,  // version read, check or write stopped it
    kProgrammingFailed,         // region announcement or block transfer failed
    kAlreadyRunning,            // Run was called again from inside a running command
};

class DownloadCommand {
  public:
    // Points the port's message output and progress bar at the view (a bar
    // attached before is kept).
    DownloadCommand(CComport& port, DownloadView& view);

    // DownloadClick: runs the whole command on the caller's thread. A call
    // made while a command runs (from a window event handled inside a port
    // call) returns kAlreadyRunning at once and changes nothing.
    Download_Outcome Run();

    FirmwareImage& Image() { return m_image; }
    const FirmwareImage& Image() const { return m_image; }
    const Version_Record& Phone_Version() const { return m_phone_version; }
    // The dump file of the last first-run backup (chosen per machine).
    const std::string& Backup_Path() const { return m_backup_path; }

  private:
    bool Check_Versions();
    bool Program_Flash();
    void Take_Version_From_Backup();
    void Delete_Backup_Files();
    void Print_Time_Line(std::string_view english, std::string_view chinese);

    CComport& m_port;
    DownloadView& m_view;
    FirmwareImage m_image;
    Version_Record m_phone_version{};
    std::string m_backup_path;
    bool m_running = false;
};

// The line that follows "can find the comport" when the search could not open
// some ports for lack of permission: names them and the fix (the device's
// group on Linux; on Windows such a port is held by another program). Empty
// when no port was refused.
std::string Refused_Ports_Line(const std::vector<Port_Candidate>& refused);
