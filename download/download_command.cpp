// The download command, step by step from the click to the idle window.
//
// Every end of the command leaves the window idle: the image's blocks freed,
// Timer1 off, both buttons enabled (Idle_On_Exit). Only a completed command
// closes the port and hides the progress bar; an early stop leaves the port
// open for the next search to close, and the bar visible at 0.
//
// When the region announcement fails, nothing is programmed: no progress
// set-up, no start line and no block transfer. The failed step is named in one
// English line with its code, and the command finishes as after a transfer
// (link closed, port closed, bar hidden, end line) but without the success box.
#include "download/download_command.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <string>

#include "bootloader/protocol.h"
#include "download/backup_path.h"
#include "download/image_loader.h"
#include "download/texts.h"

#ifndef _WIN32
#include <grp.h>
#include <sys/stat.h>
#endif

namespace {

// Puts the window back to idle however Run ends.
class Idle_On_Exit {
  public:
    Idle_On_Exit(DownloadView& view, FirmwareImage& image, bool& running)
        : m_view(view), m_image(image), m_running(running) {}
    ~Idle_On_Exit() {
        m_image.Release();
        Stop_Timer1();
        m_view.Button_Control(true);
        m_running = false;
    }
    Idle_On_Exit(const Idle_On_Exit&) = delete;
    Idle_On_Exit& operator=(const Idle_On_Exit&) = delete;

    void Start_Timer1() {
        m_view.Set_Timer1_Enabled(true);
        m_timer1_on = true;
    }
    void Stop_Timer1() {
        if (!m_timer1_on)
            return;
        m_view.Set_Timer1_Enabled(false);
        m_timer1_on = false;
    }

  private:
    DownloadView& m_view;
    FirmwareImage& m_image;
    bool& m_running;
    bool m_timer1_on = false;
};

std::string With_Code(std::string_view text, int code) {
    return std::string(text) + std::to_string(code);
}

// The progress bar counts bytes in an int; an image too large for that still
// fills the bar to the end.
int Total_Bytes(const Image_Region& first, const Image_Region& second) {
    const std::uint64_t total = std::uint64_t{first.Length} + second.Length;
    return static_cast<int>(std::min<std::uint64_t>(total, INT_MAX));
}

#ifndef _WIN32
// The group that may open a serial device; "dialout" on most systems.
std::string Device_Group(const std::string& device_path) {
    struct stat status {};
    if (::stat(device_path.c_str(), &status) == 0) {
        if (const group* owner = ::getgrgid(status.st_gid); owner != nullptr && owner->gr_name) {
            return owner->gr_name;
        }
    }
    return "dialout";
}
#endif

}  // namespace

std::string Refused_Ports_Line(const std::vector<Port_Candidate>& refused) {
    if (refused.empty())
        return {};
    std::string line(text::kPortsRefused);
    for (std::size_t i = 0; i < refused.size(); ++i) {
        if (i != 0)
            line += ", ";
        line += refused[i].display_name;
    }
#ifdef _WIN32
    line += text::kPortsInUse;
#else
    const std::string group = Device_Group(refused.front().device_path);
    line += text::kPortsRefusedGroup;
    line += group;
    line += text::kPortsRefusedCommand;
    line += group;
    line += text::kPortsRefusedLogin;
#endif
    return line;
}

DownloadCommand::DownloadCommand(CComport& port, DownloadView& view) : m_port(port), m_view(view) {
    m_port.Set_Message_Output(&m_view);
    m_port.Set_Progress_Bar(&m_view.Progress_Bar());
}

Download_Outcome DownloadCommand::Run() {
    if (m_running)
        return Download_Outcome::kAlreadyRunning;
    m_running = true;

    m_view.Set_Elapsed_Seconds(0);
    m_view.Button_Control(false);
    Idle_On_Exit idle(m_view, m_image, m_running);
    m_view.Clean_Memo();
    m_view.Clean_OldTedit();

    if (!Parse_File(m_image, m_view, m_view.Image_Dialog())) {
        return Download_Outcome::kImageNotLoaded;
    }

    m_view.Print_Str_to_Memo(text::kSearching);
    m_view.Print_Str_to_Memo(text::kPleaseWait);
    Port_Candidate phone;
    if (!m_port.Find_Phone(&phone)) {
        m_view.Print_Str_to_Memo(
            text::By_Language(m_view.Language_Flag(), text::kNotFoundEn, text::kNotFoundZh));
        const std::string refused = Refused_Ports_Line(m_port.Refused_Ports());
        if (!refused.empty())
            m_view.Print_Str_to_Memo(refused);
        return Download_Outcome::kPhoneNotFound;
    }
    // "COM5" on Windows, the device path elsewhere.
    m_view.Print_Str_to_Memo("");
    m_view.Print_Str_to_Memo(std::string(text::kFoundPort) + phone.display_name);
    m_view.Print_Str_to_Memo(text::kReadyToUpdate);
    m_view.Print_Str_to_Memo("");

    m_view.Progress_Bar().set_position(0);
    m_view.Set_Progress_Visible(true);

    if (!Check_Versions())
        return Download_Outcome::kStoppedBeforeProgramming;

    idle.Start_Timer1();
    Delete_Backup_Files();

    const bool programmed = Program_Flash();

    m_image.Release();
    m_port.End_Link();  // the port is closed whether or not the byte went out
    m_port.Close();
    m_view.Set_Progress_Visible(false);
    Print_Time_Line(text::kEndAtEn, text::kEndAtZh);
    if (programmed) {
        m_view.Show_Message_Box(
            text::By_Language(m_view.Language_Flag(), text::kUpdateOkEn, text::kUpdateOkZh));
    }
    idle.Stop_Timer1();
    return programmed ? Download_Outcome::kUpdated : Download_Outcome::kProgrammingFailed;
}

// Reads the phone's record, compares it with the image's (taking the phone's
// record from a boot-loader dump on a first run), and writes the image's
// record into the phone. False when the command must stop.
bool DownloadCommand::Check_Versions() {
    const int read_result = m_port.Read_Phone_Version(m_phone_version);
    if (read_result != 0) {
        m_view.Print_Str_to_Memo(With_Code(text::kReadVersionFailed, read_result));
        return false;
    }
    int verdict = m_port.Compare_Version(m_image.Image_Version, m_phone_version);
    if (verdict == 1) {
        Take_Version_From_Backup();
        verdict = m_port.Compare_Version(m_image.Image_Version, m_phone_version);
    }
    if (verdict != 0)
        return false;  // Compare_Version said why, if anything
    // A phone that does not take the record stops the update before its flash
    // is touched; say so, rather than leave the user with no word at all.
    const int write_result = m_port.Write_Phone_Version(m_image.Image_Version);
    if (write_result != 0) {
        m_view.Print_Str_to_Memo(With_Code(text::kWriteVersionFailed, write_result));
        return false;
    }
    return true;
}

// First run: the phone holds no record of ours yet, but its boot loader
// carries one. Dump the boot loader to a file and take the record from there.
// Whether that worked is for the second comparison to decide; a failed dump is
// still named, so that a full or read-only disk does not pass unnoticed.
void DownloadCommand::Take_Version_From_Backup() {
    m_backup_path = Choose_Backup_Path();
    const int backup_result = m_port.Backup_Boot_Loader(m_backup_path);
    if (backup_result != 0) {
        m_view.Print_Str_to_Memo(With_Code(text::kBackupFailed, backup_result));
    }
    m_port.Find_Version_In_Backup(m_backup_path, boot::kBackupMarker, m_phone_version);

    // The field shows the record's characters; zero bytes show nothing. Sent
    // in one piece so that a character of several bytes stays whole.
    m_view.Clean_OldTedit();
    std::string shown;
    for (const std::uint8_t byte : m_phone_version) {
        if (byte != 0)
            shown.push_back(static_cast<char>(byte));
    }
    m_view.Print_Str_to_OldTedit(shown);
}

// The dump has served its purpose once the phone holds the image's record.
// A dump left by an earlier, stopped command may lie in any of the places,
// and a missing file is no error.
void DownloadCommand::Delete_Backup_Files() {
    std::vector<std::string> paths = Backup_Path_Candidates();
    if (!m_backup_path.empty() &&
        std::find(paths.begin(), paths.end(), m_backup_path) == paths.end()) {
        paths.push_back(m_backup_path);
    }
    for (const std::string& path : paths)
        Remove_Backup_File(path);
}

// Announces both regions and sends their bytes. False, after one line naming
// the failed step and its code, when either exchange fails.
bool DownloadCommand::Program_Flash() {
    const Image_Region& first = m_image.First_Region;
    const Image_Region& second = m_image.Second_Region;
    const int regions_result = m_port.Set_Regions(first, second);
    if (regions_result != 0) {
        m_view.Print_Str_to_Memo(With_Code(text::kSetRegionsFailed, regions_result));
        return false;
    }
    m_port.Progress_Init(Total_Bytes(first, second));
    Print_Time_Line(text::kStartAtEn, text::kStartAtZh);
    const int download_result = m_port.Download_Regions(
        first, second, {m_image.First_Region_Data.get(), m_image.Second_Region_Data.get()});
    if (download_result != 0) {
        m_view.Print_Str_to_Memo(With_Code(text::kDownloadFailed, download_result));
        return false;
    }
    return true;
}

// "Download start at: Mon Dec 07 23:59:19 2026\n." - the time text keeps its
// line feed, so the full stop opens the next line.
void DownloadCommand::Print_Time_Line(std::string_view english, std::string_view chinese) {
    std::string line(text::By_Language(m_view.Language_Flag(), english, chinese));
    line += text::Time_Text_Now();
    line += '.';
    m_view.Print_Str_to_Memo(line);
}
