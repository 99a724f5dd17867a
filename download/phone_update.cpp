// One phone's update, step by step from the found port to the end of its
// session.
//
// Only a completed update closes the port and hides the progress bar; one
// that fails at the version check leaves the port open for the next search
// to close, and the bar visible at 0.
//
// When the region announcement fails, nothing is programmed: no progress
// set-up, no start line and no block transfer. The failed step is named in one
// English line with its code, and the update finishes as after a transfer
// (link closed, port closed, bar hidden, end line) but without the success box.
//
// On a first run the phone's boot loader is dumped into a new file of this
// update's own (dump_file.h) and the record is taken from it alone. The file
// is removed once the phone holds the image's record; an update that ends
// before keeps it and names it once.
//
// A stop (the window closing, Ctrl-C) ends the update at the next port call
// without a failure line of its own: the front end says why it stopped. The
// port is released; the link is closed with its closing byte only when the
// stop came between two exchanges, since the boot loader in the middle of one
// takes no byte as its end (CComport::End_Session).
#include "download/phone_update.h"

#include <algorithm>
#include <cstdint>
#include <utility>

#include "download/dump_places.h"
#include "download/notice_texts.h"
#include "platform/files.h"

namespace {

// The programming step lasts from the check's end until the update has ended,
// however it ends (a window's Timer1 runs meanwhile).
class Programming_Step {
  public:
    explicit Programming_Step(report::Update_Observer& report) : m_report(report) {
        m_report.On_Event(report::Update_Event::Began(report::Step::kProgramming));
    }
    ~Programming_Step() { End(); }
    Programming_Step(const Programming_Step&) = delete;
    Programming_Step& operator=(const Programming_Step&) = delete;

    void End() {
        if (!m_on)
            return;
        m_report.On_Event(report::Update_Event::Ended(report::Step::kProgramming));
        m_on = false;
    }

  private:
    report::Update_Observer& m_report;
    bool m_on = true;
};

// The bytes of both regions.
std::uint64_t Total_Bytes(const Image_Region& first, const Image_Region& second) {
    return std::uint64_t{first.Length} + second.Length;
}

}  // namespace

Phone_Update::Phone_Update(CComport& port, report::Update_Observer& report,
                           const Firmware_Image& image, std::string dump_name)
    : m_port(port), m_report(report), m_image(image), m_dump_name(std::move(dump_name)) {
    m_port.Set_Report(&m_report);
}

void Phone_Update::Begin() {
    m_phone_touched = false;
    m_failure = {};
    m_dump_kept = false;
    Set_Phase(Update_Phase::kPreparing);
}

bool Phone_Update::Stop_If_Harmless() {
    int expected = static_cast<int>(Update_Phase::kPreparing);
    if (!m_phase.compare_exchange_strong(expected, static_cast<int>(Update_Phase::kStopping)) &&
        expected == static_cast<int>(Update_Phase::kPhoneAtRisk)) {
        return false;
    }
    m_port.Request_Stop();
    return true;
}

Download_Outcome Phone_Update::Update_On(const Port_Candidate& phone,
                                         const std::function<bool()>& search_again) {
    Begin();
    Emit(report::Update_Event::Began(report::Step::kUpdate));
    Emit(report::Update_Event::Began(report::Step::kHandshake));
    Download_Outcome outcome = Download_Outcome::kStopped;
    bool found = m_port.Find_Phone_On(phone);
    while (!found && search_again && !m_port.Stop_Requested() && search_again())
        found = m_port.Find_Phone_On(phone);
    if (found) {
        outcome = Run(phone);
    } else if (m_port.Stop_Requested()) {
        outcome = Stopped();
    } else {
        Failed_At(Download_Step::kSearch);
        outcome = Download_Outcome::kPhoneNotFound;
    }
    End();
    Emit(report::Update_Event::Finished(outcome));
    return outcome;
}

Download_Outcome Phone_Update::Run(const Port_Candidate& phone,
                                   const std::function<void()>& after_transfer) {
    // "COM5" on Windows, the device path elsewhere.
    Say(report::Say(report::Notice::kFoundPort, phone.display_name));
    Say(report::Say(report::Notice::kReadyToUpdate));

    Emit(report::Update_Event::Began(report::Step::kCheckVersion));
    switch (Check_Versions(phone)) {
        case Check::kPassed:
            break;
        case Check::kFailed:
            Name_Kept_Dump();
            return Download_Outcome::kFailedBeforeProgramming;
        case Check::kStopped:
            Name_Kept_Dump();
            return Stopped();
    }

    Programming_Step programming(m_report);
    Delete_Dump();

    const bool programmed = Program_Flash();
    const bool stopped = m_port.Stop_Requested();
    Set_Phase(Update_Phase::kFinishing);

    if (after_transfer)
        after_transfer();
    // The port is closed whether or not the byte went out.
    Emit(report::Update_Event::Began(report::Step::kEndSession));
    m_port.End_Session();
    Emit(report::Update_Event::Ended(report::Step::kEndSession));
    if (stopped)
        return Download_Outcome::kStopped;
    Say_Time(report::Notice::kEndAt);
    if (programmed)
        Say(report::Say(report::Notice::kUpdateOk));
    programming.End();
    return programmed ? Download_Outcome::kUpdated : Download_Outcome::kProgrammingFailed;
}

// Ends a stopped update: the link closed where that means something and the
// port released, nothing printed (the front end says why it stopped).
Download_Outcome Phone_Update::Stopped() {
    m_port.End_Session();
    return Download_Outcome::kStopped;
}

// Reads the phone's record, compares it with the image's (taking the phone's
// record from a boot-loader dump on a first run), and writes the image's
// record into the phone.
Phone_Update::Check Phone_Update::Check_Versions(const Port_Candidate& phone) {
    using boot::Code;
    const auto read = m_port.Read_Phone_Version(m_phone_version);
    if (m_port.Stop_Requested())
        return Check::kStopped;
    if (read != boot::Read_Version_Result::kOk) {
        Report_Failure(report::Step::kCheckVersion, report::Notice::kReadVersionFailed, Code(read),
                       read.end);
        Failed_At(Download_Step::kReadVersion, Code(read));
        return Check::kFailed;
    }
    boot::Compare_Result verdict = m_port.Compare_Version(m_image.Image_Version, m_phone_version);
    if (verdict == boot::Compare_Result::kFirstRun) {
        Take_Version_From_Dump(phone);
        if (m_port.Stop_Requested())
            return Check::kStopped;
        verdict = m_port.Compare_Version(m_image.Image_Version, m_phone_version);
    }
    if (verdict != boot::Compare_Result::kGoOn) {
        Failed_At(Download_Step::kCompare, Code(verdict));
        m_failure.verdict = verdict;
        return Check::kFailed;  // Compare_Version said why, if anything
    }

    // From the first byte of the record on, the phone cannot start until the
    // transfer has ended; a stop asked for before this point wins.
    int expected = static_cast<int>(Update_Phase::kPreparing);
    if (!m_phase.compare_exchange_strong(expected, static_cast<int>(Update_Phase::kPhoneAtRisk)))
        return Check::kStopped;
    m_phone_touched = true;
    Emit(report::Update_Event::Began(report::Step::kWriteRecord));

    // A phone that does not take the record stops the update before its flash
    // is touched; say so, rather than leave the user with no word at all.
    const auto written = m_port.Write_Phone_Version(m_image.Image_Version);
    if (m_port.Stop_Requested())
        return Check::kStopped;
    if (written != boot::Write_Version_Result::kOk) {
        Report_Failure(report::Step::kWriteRecord, report::Notice::kWriteVersionFailed,
                       Code(written), written.end);
        Failed_At(Download_Step::kWriteVersion, Code(written));
        return Check::kFailed;
    }
    Emit(report::Update_Event::Record(report::Update_Event::Kind::kRecordWritten,
                                      m_image.Image_Version));
    return Check::kPassed;
}

// First run: the phone holds no record of ours yet, but its boot loader
// carries one. Dump the boot loader into a new file of this update's own and
// take the record from there. Whether that worked is for the second
// comparison to decide; a failed dump is still named, so that a full or
// read-only disk does not pass unnoticed.
void Phone_Update::Take_Version_From_Dump(const Port_Candidate& phone) {
    Emit(report::Update_Event::Began(report::Step::kDump));
    Dump_File dump = m_dump_name.empty() ? Start_Dump(phone.device_path)
                                         : Start_Named_Dump(m_dump_name, Dump_Directories());
    m_dump_path = dump.path;
    if (!dump.moved_aside.empty())
        Say(report::Say(report::Notice::kDumpMoved, dump.moved_aside));
    const auto dumped = m_port.Backup_Boot_Loader(dump.file.get());
    if (dump.file) {
        m_port.Find_Version_In_Backup(dump.file.get(), kPhoneModel.dump_marker, m_phone_version);
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
    if (dumped != boot::Dump_Result::kOk) {
        Report_Failure(report::Step::kDump, report::Notice::kDumpFailed, boot::Code(dumped),
                       dumped.end);
        m_failure.dump_code = boot::Code(dumped);
    }
    Emit(report::Update_Event::Record(report::Update_Event::Kind::kPhoneVersionFromDump,
                                      m_phone_version));
}

// The dump has served its purpose once the phone holds the image's record.
// Dumps of earlier runs that were moved aside stay.
void Phone_Update::Delete_Dump() {
    if (m_dump_kept)
        m_dump.Remove();
    m_dump_kept = false;
    m_dump = {};
}

// An update that ends after its dump leaves the dump in place and says once
// where it is.
void Phone_Update::Name_Kept_Dump() {
    m_dump = {};
    if (!m_dump_kept)
        return;
    Say(report::Say(report::Notice::kDumpKept, m_dump_path));
    m_dump_kept = false;
}

// Announces both regions and sends their bytes. False, after one line naming
// the failed step and its code, when either exchange fails (without the line
// when a stop ended it).
bool Phone_Update::Program_Flash() {
    using boot::Code;
    const Image_Region& first = m_image.First_Region;
    const Image_Region& second = m_image.Second_Region;
    const auto announced = m_port.Set_Regions(first, second);
    if (announced != boot::Set_Regions_Result::kOk) {
        if (!m_port.Stop_Requested()) {
            Report_Failure(report::Step::kProgramming, report::Notice::kSetRegionsFailed,
                           Code(announced), announced.end);
            Failed_At(Download_Step::kSetRegions, Code(announced));
        }
        return false;
    }
    Emit(report::Update_Event::Began(report::Step::kTransfer));
    m_port.Progress_Init(Total_Bytes(first, second));
    Say_Time(report::Notice::kStartAt);
    const auto sent = m_port.Download_Regions(
        first, second, {m_image.First_Region_Data.get(), m_image.Second_Region_Data.get()});
    if (sent != boot::Download_Result::kOk) {
        if (!m_port.Stop_Requested()) {
            Report_Failure(report::Step::kTransfer, report::Notice::kDownloadFailed, Code(sent),
                           sent.end);
            Failed_At(Download_Step::kDownloadRegions, Code(sent));
        }
        return false;
    }
    return true;
}

void Phone_Update::Report_Failure(report::Step step, report::Notice step_failed, int code,
                                  Io_End end) {
    Emit(report::Update_Event::Failed(step, code, end));
    for (report::Notice_Event& notice : text::Failure_Notices(step_failed, code, end))
        Say(std::move(notice));
}

void Phone_Update::Say_Time(report::Notice id) {
    report::Notice_Event notice = report::Say(id);
    notice.time = std::chrono::system_clock::now();
    Say(std::move(notice));
}
