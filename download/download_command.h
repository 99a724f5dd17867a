// The download command: everything between a click on Download and the
// window being ready for the next click. Load the image, find the phone,
// check and write its version record (dumping the boot loader on a first
// run), announce and send both flash regions, and say how it went.
//
// Run() works on the thread that calls it; the windows call it on a worker
// thread through Update_Runner, with a view whose calls reach the window's
// thread. Stop_If_Harmless and Stop may be called from any thread.
#pragma once

#include <atomic>
#include <optional>
#include <string>
#include <vector>

#include "bootloader/comport.h"
#include "bootloader/records.h"
#include "download/backup_path.h"
#include "download/download_view.h"
#include "download/firmware_image.h"
#include "serial/port_list.h"

// How a command ended, for callers that report it (the command-line tool's
// exit code); the window ignores it.
enum class Download_Outcome {
    kUpdated,                   // every block accepted and the success box shown
    kImageNotLoaded,            // the image was refused or could not be read
    kPhoneNotFound,             // no boot loader answered the search
    kStoppedBeforeProgramming,  // version read, check or write stopped it
    kProgrammingFailed,         // region announcement or block transfer failed
    kAlreadyRunning,            // Run was called again while a command runs
    kStopped,                   // a stop was requested (closing window, Ctrl-C)
};

// Where the command is, as far as stopping it is concerned.
enum class Update_Phase : int {
    kIdle,
    kPreparing,    // image, search, version read and check: a stop does no harm
    kPhoneAtRisk,  // the image's record goes into the phone and the transfer has
                   // not ended: a stop leaves a phone that cannot start
    kFinishing,    // the transfer has ended
    kStopping,     // stopped before the phone was at risk; it never will be
};

// The step at which the last command stopped short, with that step's result
// code: for a front end with more room than the message area to say more (the
// command-line tool's last line).
enum class Download_Step {
    kNone,  // it completed, or was stopped
    kImage,
    kSearch,
    kReadVersion,
    kCompare,  // code: the comparison's verdict
    kWriteVersion,
    kSetRegions,
    kDownloadRegions,
};
struct Download_Stop {
    Download_Step step = Download_Step::kNone;
    int code = 0;
    int backup_code = 0;  // a first run's dump that failed (0: it worked, or none was made)
};

class DownloadCommand {
  public:
    // Points the port's message output and progress bar at the view (a bar
    // attached before is kept): the one place where the port is wired.
    DownloadCommand(CComport& port, DownloadView& view);

    // DownloadClick: runs the whole command on the caller's thread. A call
    // made while a command runs returns kAlreadyRunning at once and changes
    // nothing.
    Download_Outcome Run();

    // Any thread. Stops the command at once unless the phone is at risk, in
    // which case it returns false and changes nothing (ask the user first).
    bool Stop_If_Harmless();
    // Any thread: stops the command whatever the phase (the user confirmed).
    // An exchange cut short writes nothing more; between exchanges the link
    // is still ended.
    void Stop() { m_port.Request_Stop(); }
    Update_Phase Phase() const { return static_cast<Update_Phase>(m_phase.load()); }
    // Whether the last command began to replace the phone's version record
    // (from then on only a completed transfer leaves a phone that starts).
    bool Phone_Touched() const { return m_phone_touched; }
    const Download_Stop& Last_Stop() const { return m_last_stop; }

    FirmwareImage& Image() { return m_image; }
    const FirmwareImage& Image() const { return m_image; }
    const Version_Record& Phone_Version() const { return m_phone_version; }
    // The dump file of the last first-run backup (chosen per machine and port).
    const std::string& Backup_Path() const { return m_backup_path; }

  private:
    enum class Check { kPassed, kFailed, kStopped };
    Check Check_Versions(const Port_Candidate& phone);
    bool Program_Flash();
    void Take_Version_From_Backup(const Port_Candidate& phone);
    void Delete_Dump();
    void Name_Kept_Dump();
    void Print_Time_Line(std::string_view english, std::string_view chinese);
    // The failed step's line with its code, then, in the window's language,
    // why the exchange broke off when the port knows it.
    void Report_Failure(std::string_view text, int code);
    Download_Outcome Stopped();
    void Set_Phase(Update_Phase phase) { m_phase.store(static_cast<int>(phase)); }
    void Stopped_At(Download_Step step, int code = 0) {
        m_last_stop = {step, code, m_last_stop.backup_code};
    }

    CComport& m_port;
    DownloadView& m_view;
    FirmwareImage m_image;
    Version_Record m_phone_version{};
    std::string m_backup_path;
    Dump_File m_dump;  // this command's dump, while it may still be deleted
    bool m_running = false;
    bool m_phone_touched = false;
    Download_Stop m_last_stop;
    bool m_dump_kept = false;  // this command's dump file is on disk
    std::atomic<int> m_phase{static_cast<int>(Update_Phase::kIdle)};
};

// The lines that follow "can not find the comport" when the search was
// refused some ports: those the user may not open, with the fix (the device's
// group); each port held by another program, with the holders where the
// system names them; paths that are no serial port or are the user's own
// terminal. None when no port was refused.
std::vector<std::string> Refused_Ports_Lines(const std::vector<Refused_Port>& refused);
// The line that follows "can not find the comport" when the port listing
// itself broke (a Port_List_Result other than ports found or none there):
// what broke, with the listing's code. None for a listing that worked.
std::optional<std::string> Port_Listing_Line(int listing_result);
