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
//
// On a first run the phone's boot loader is dumped into a new file of this
// command's own (backup_path.h) and the record is taken from it alone. The
// file is removed once the phone holds the image's record; a command that
// ends before keeps it and names it once.
//
// Texts from outside in a message line (port names, paths, the system's
// names) are escaped here, where the line is built, so that no window and no
// terminal shows a line feed or a control of theirs.
//
// A stop (the window closing, Ctrl-C) ends the command at the next port call
// without a failure line of its own: the front end says why it stopped. The
// port is released; the link is closed with its closing byte only when the
// stop came between two exchanges, since the boot loader in the middle of one
// takes no byte as its end (CComport::End_Session).
//
// A search that finds no phone says so, then what it found in the way: a port
// listing that broke, and the ports it was refused.
#include "download/download_command.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

#include "bootloader/protocol.h"
#include "download/backup_path.h"
#include "download/display_text.h"
#include "download/image_loader.h"
#include "download/texts.h"
#include "serial/platform.h"

namespace {

// Puts the window back to idle however Run ends.
class Idle_On_Exit {
  public:
    Idle_On_Exit(DownloadView& view, FirmwareImage& image, bool& running, std::atomic<int>& phase)
        : m_view(view), m_image(image), m_running(running), m_phase(phase) {}
    ~Idle_On_Exit() {
        m_image.Release();
        Stop_Timer1();
        m_view.Button_Control(true);
        m_phase.store(static_cast<int>(Update_Phase::kIdle));
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
    std::atomic<int>& m_phase;
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

}  // namespace

std::vector<std::string> Refused_Ports_Lines(const std::vector<Refused_Port>& refused) {
    std::vector<std::string> lines;
    std::vector<const Refused_Port*> no_permission;
    for (const Refused_Port& port : refused) {
        switch (port.reason) {
            case Open_Refusal::kNoPermission:
                no_permission.push_back(&port);
                break;
            case Open_Refusal::kInUse: {
                // Who holds it is looked up now, where the system says.
                const std::vector<std::string> holders = platform::Port_Holders(port.device_path);
                std::string line =
                    text::Displayable_Text(port.display_name) + std::string(text::kPortInUse);
                for (std::size_t i = 0; i < holders.size(); ++i)
                    line += (i == 0 ? "" : ", ") + text::Displayable_Text(holders[i]);
                if (holders.empty())
                    line += text::kPortInUseByUnknown;
                lines.push_back(line + std::string(text::kPortInUseFix));
                break;
            }
            case Open_Refusal::kNotASerialPort:
                lines.push_back(text::Displayable_Text(port.display_name) +
                                std::string(text::kNotASerialPort));
                break;
            case Open_Refusal::kOwnTerminal:
                lines.push_back(text::Displayable_Text(port.display_name) +
                                std::string(text::kOwnTerminal));
                break;
            case Open_Refusal::kNone:
                break;
        }
    }
    if (no_permission.empty())
        return lines;
    std::string line(text::kPortsRefused);
    for (std::size_t i = 0; i < no_permission.size(); ++i) {
        if (i != 0)
            line += ", ";
        line += text::Displayable_Text(no_permission[i]->display_name);
    }
    const std::string group =
        text::Displayable_Text(platform::Device_Group(no_permission.front()->device_path));
    line += text::kPortsRefusedGroup;
    line += group;
    line += text::kPortsRefusedCommand;
    line += group;
    line += text::kPortsRefusedLogin;
    lines.insert(lines.begin(), line);
    return lines;
}

std::optional<std::string> Port_Listing_Line(int listing_result) {
    std::string_view why;
    switch (listing_result) {
        case kPortListOk:
        case kPortListNothingFound:
            return std::nullopt;
        case kPortListMapUnreadable:
            why = text::kPortListUnreadable;
            break;
        case kPortListTooMany:
            why = text::kPortListTooMany;
            break;
        default:
            why = text::kPortListBroken;
            break;
    }
    return std::string(text::kPortListFailed) + std::string(why) +
           std::string(text::kPortListCode) + std::to_string(listing_result) + ")";
}

DownloadCommand::DownloadCommand(CComport& port, DownloadView& view) : m_port(port), m_view(view) {
    m_port.Set_Message_Output(&m_view);
    m_port.Set_Progress_Bar(&m_view.Progress_Bar());
}

bool DownloadCommand::Stop_If_Harmless() {
    int expected = static_cast<int>(Update_Phase::kPreparing);
    if (!m_phase.compare_exchange_strong(expected, static_cast<int>(Update_Phase::kStopping)) &&
        expected == static_cast<int>(Update_Phase::kPhoneAtRisk)) {
        return false;
    }
    m_port.Request_Stop();
    return true;
}

Download_Outcome DownloadCommand::Run() {
    if (m_running)
        return Download_Outcome::kAlreadyRunning;
    m_running = true;
    m_phone_touched = false;
    m_last_stop = {};
    m_dump_kept = false;
    Set_Phase(Update_Phase::kPreparing);

    m_view.Set_Elapsed_Seconds(0);
    m_view.Button_Control(false);
    Idle_On_Exit idle(m_view, m_image, m_running, m_phase);
    m_view.Clean_Memo();
    m_view.Clean_OldTedit();

    // A stop (Ctrl-C, the window closing) ends even the load of a large image.
    const bool loaded =
        Parse_File(m_image, m_view, m_view.Image_Dialog(), {&m_port.Stop_Request()});
    if (m_port.Stop_Requested())
        return Stopped();
    if (!loaded) {
        Stopped_At(Download_Step::kImage);
        return Download_Outcome::kImageNotLoaded;
    }

    m_view.Print_Str_to_Memo(text::kSearching);
    m_view.Print_Str_to_Memo(text::kPleaseWait);
    Port_Candidate phone;
    if (!m_port.Find_Phone(&phone)) {
        if (m_port.Stop_Requested())
            return Stopped();
        m_view.Print_Bilingual_to_Memo(
            {std::string(text::kNotFoundEn), std::string(text::kNotFoundZh)});
        if (const std::optional<std::string> line = Port_Listing_Line(m_port.Last_Listing()))
            m_view.Print_Str_to_Memo(*line);
        for (const std::string& line : Refused_Ports_Lines(m_port.Refused_Ports()))
            m_view.Print_Str_to_Memo(line);
        Stopped_At(Download_Step::kSearch);
        return Download_Outcome::kPhoneNotFound;
    }
    // "COM5" on Windows, the device path elsewhere.
    m_view.Print_Str_to_Memo("");
    m_view.Print_Str_to_Memo(std::string(text::kFoundPort) +
                             text::Displayable_Text(phone.display_name));
    m_view.Print_Str_to_Memo(text::kReadyToUpdate);
    m_view.Print_Str_to_Memo("");

    m_view.Progress_Bar().Set_Position(0);
    m_view.Set_Progress_Visible(true);

    switch (Check_Versions(phone)) {
        case Check::kPassed:
            break;
        case Check::kFailed:
            Name_Kept_Dump();
            return Download_Outcome::kStoppedBeforeProgramming;
        case Check::kStopped:
            Name_Kept_Dump();
            return Stopped();
    }

    idle.Start_Timer1();
    Delete_Dump();

    const bool programmed = Program_Flash();
    const bool stopped = m_port.Stop_Requested();
    Set_Phase(Update_Phase::kFinishing);

    m_image.Release();
    // The port is closed whether or not the byte went out.
    m_port.End_Session();
    m_view.Set_Progress_Visible(false);
    if (stopped)
        return Download_Outcome::kStopped;
    Print_Time_Line(text::kEndAtEn, text::kEndAtZh);
    if (programmed) {
        m_view.Show_Message_Box({std::string(text::kUpdateOkEn), std::string(text::kUpdateOkZh)});
    }
    idle.Stop_Timer1();
    return programmed ? Download_Outcome::kUpdated : Download_Outcome::kProgrammingFailed;
}

// Ends a stopped command: the link closed where that means something and the
// port released, nothing printed (the front end says why it stopped).
Download_Outcome DownloadCommand::Stopped() {
    m_port.End_Session();
    return Download_Outcome::kStopped;
}

// Reads the phone's record, compares it with the image's (taking the phone's
// record from a boot-loader dump on a first run), and writes the image's
// record into the phone.
DownloadCommand::Check DownloadCommand::Check_Versions(const Port_Candidate& phone) {
    using boot::Code;
    const boot::Read_Version_Result read_result = m_port.Read_Phone_Version(m_phone_version);
    if (m_port.Stop_Requested())
        return Check::kStopped;
    if (read_result != boot::Read_Version_Result::kOk) {
        Report_Failure(text::kReadVersionFailed, Code(read_result));
        Stopped_At(Download_Step::kReadVersion, Code(read_result));
        return Check::kFailed;
    }
    boot::Compare_Result verdict = m_port.Compare_Version(m_image.Image_Version, m_phone_version);
    if (verdict == boot::Compare_Result::kFirstRun) {
        Take_Version_From_Backup(phone);
        if (m_port.Stop_Requested())
            return Check::kStopped;
        verdict = m_port.Compare_Version(m_image.Image_Version, m_phone_version);
    }
    if (verdict != boot::Compare_Result::kGoOn) {
        Stopped_At(Download_Step::kCompare, Code(verdict));
        return Check::kFailed;  // Compare_Version said why, if anything
    }

    // From the first byte of the record on, the phone cannot start until the
    // transfer has ended; a stop asked for before this point wins.
    int expected = static_cast<int>(Update_Phase::kPreparing);
    if (!m_phase.compare_exchange_strong(expected, static_cast<int>(Update_Phase::kPhoneAtRisk)))
        return Check::kStopped;
    m_phone_touched = true;

    // A phone that does not take the record stops the update before its flash
    // is touched; say so, rather than leave the user with no word at all.
    const boot::Write_Version_Result write_result =
        m_port.Write_Phone_Version(m_image.Image_Version);
    if (m_port.Stop_Requested())
        return Check::kStopped;
    if (write_result != boot::Write_Version_Result::kOk) {
        Report_Failure(text::kWriteVersionFailed, Code(write_result));
        Stopped_At(Download_Step::kWriteVersion, Code(write_result));
        return Check::kFailed;
    }
    return Check::kPassed;
}

// First run: the phone holds no record of ours yet, but its boot loader
// carries one. Dump the boot loader into a new file of this run's own and take
// the record from there. Whether that worked is for the second comparison to
// decide; a failed dump is still named, so that a full or read-only disk does
// not pass unnoticed.
void DownloadCommand::Take_Version_From_Backup(const Port_Candidate& phone) {
    Dump_File dump = Start_Dump(phone.device_path);
    m_backup_path = dump.path;
    if (!dump.moved_aside.empty()) {
        const std::string moved_aside = text::Displayable_Text(dump.moved_aside);
        m_view.Print_Bilingual_to_Memo({std::string(text::kDumpMovedEn) + moved_aside,
                                        std::string(text::kDumpMovedZh) + moved_aside});
    }
    const boot::Backup_Result backup_result = m_port.Backup_Boot_Loader(dump.file.get());
    if (dump.file) {
        m_port.Find_Version_In_Backup(dump.file.get(), boot::kBackupMarker, m_phone_version);
        // A dump that holds nothing (refused, or the phone silent at once)
        // is not kept; one with the phone's bytes in it is, until the flash
        // is reached.
        const bool empty = platform::File_Size(dump.file.get()) == 0;
        dump.file.reset();
        if (empty)
            dump.Remove();
        m_dump_kept = !empty;
    }
    m_dump = std::move(dump);  // its directory is held until the dump is deleted or kept
    if (m_port.Stop_Requested())
        return;
    if (backup_result != boot::Backup_Result::kOk) {
        Report_Failure(text::kBackupFailed, boot::Code(backup_result));
        m_last_stop.backup_code = boot::Code(backup_result);
    }

    // The field shows the record's characters; zero bytes show nothing.
    m_view.Clean_OldTedit();
    m_view.Print_Str_to_OldTedit(Version_Field_Text(m_phone_version));
}

// The dump has served its purpose once the phone holds the image's record.
// Dumps of earlier runs that were moved aside stay.
void DownloadCommand::Delete_Dump() {
    if (m_dump_kept)
        m_dump.Remove();
    m_dump_kept = false;
    m_dump = {};
}

// A command that stops after its dump leaves the dump in place and says once
// where it is.
void DownloadCommand::Name_Kept_Dump() {
    m_dump = {};
    if (!m_dump_kept)
        return;
    const std::string kept = text::Displayable_Text(m_backup_path);
    m_view.Print_Bilingual_to_Memo(
        {std::string(text::kDumpKeptEn) + kept, std::string(text::kDumpKeptZh) + kept});
    m_dump_kept = false;
}

// Announces both regions and sends their bytes. False, after one line naming
// the failed step and its code, when either exchange fails (without the line
// when a stop ended it).
bool DownloadCommand::Program_Flash() {
    using boot::Code;
    const Image_Region& first = m_image.First_Region;
    const Image_Region& second = m_image.Second_Region;
    const boot::Set_Regions_Result regions_result = m_port.Set_Regions(first, second);
    if (regions_result != boot::Set_Regions_Result::kOk) {
        if (!m_port.Stop_Requested()) {
            Report_Failure(text::kSetRegionsFailed, Code(regions_result));
            Stopped_At(Download_Step::kSetRegions, Code(regions_result));
        }
        return false;
    }
    m_port.Progress_Init(Total_Bytes(first, second));
    Print_Time_Line(text::kStartAtEn, text::kStartAtZh);
    const boot::Download_Result download_result = m_port.Download_Regions(
        first, second, {m_image.First_Region_Data.get(), m_image.Second_Region_Data.get()});
    if (download_result != boot::Download_Result::kOk) {
        if (!m_port.Stop_Requested()) {
            Report_Failure(text::kDownloadFailed, Code(download_result));
            Stopped_At(Download_Step::kDownloadRegions, Code(download_result));
        }
        return false;
    }
    return true;
}

void DownloadCommand::Report_Failure(std::string_view text, int code) {
    m_view.Print_Str_to_Memo(With_Code(text, code));
    if (m_port.Line_Hung_Up()) {
        m_view.Print_Bilingual_to_Memo(
            {std::string(text::kDisconnectedEn), std::string(text::kDisconnectedZh)});
    } else if (code == boot::kWriteTimedOutCode) {
        m_view.Print_Bilingual_to_Memo(
            {std::string(text::kWriteStuckEn), std::string(text::kWriteStuckZh)});
    }
}

// "Download start at: Mon Dec 07 23:59:19 2026\n." - the time text keeps its
// line feed, so the full stop opens the next line.
void DownloadCommand::Print_Time_Line(std::string_view english, std::string_view chinese) {
    const std::string time = text::Time_Text_Now() + '.';
    m_view.Print_Bilingual_to_Memo({std::string(english) + time, std::string(chinese) + time});
}
