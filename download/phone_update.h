// One phone's update on one port: the steps of the download command after
// the phone search. From the found port on it checks the phone's version
// record against the image's (dumping the boot loader on a first run),
// writes the image's record, announces and sends both flash regions, ends
// the session, and reports each step, notice, record and byte to its report
// (bootloader/update_report.h): a window renders it (Message_Renderer), a
// station's session records it.
//
// The download command runs it on the port its search found, with the image
// it loaded. Any other caller can run it on a port of its own, with an image
// loaded and checked once elsewhere and only read here, so that several
// phones are updated at once: each on its own thread, with its own port
// object, report and dump file name.
//
// Stop_If_Harmless and Stop may be called from any thread.
#pragma once

#include <atomic>
#include <functional>
#include <string>
#include <utility>

#include "bootloader/comport.h"
#include "bootloader/records.h"
#include "bootloader/update_report.h"
#include "download/dump_file.h"
#include "download/firmware_image.h"
#include "download/update_outcome.h"
#include "serial/port_list.h"

class Phone_Update {
  public:
    // Points the port's report at report (a report attached before is
    // kept): the one place where the port is wired. port, report and image
    // outlive the update; the image is only read. dump_name: the first-run
    // dump's file name; empty: the one the port gets (dump_places.h).
    Phone_Update(CComport& port, report::Update_Observer& report, const Firmware_Image& image,
                 std::string dump_name = {});

    // A new update begins: a stop from now on does no harm until the phone's
    // record is written. Forgets the last update's failure.
    void Begin();
    // The update has ended, however it ended.
    void End() { Set_Phase(Update_Phase::kIdle); }

    // On the port the search left open and synchronised with the phone's
    // boot loader: says which port was found, checks, writes the record,
    // programs, and ends the session. after_transfer runs once the transfer
    // has ended, before the session's last steps: the download command frees
    // the image's bytes there.
    Download_Outcome Run(const Port_Candidate& phone,
                         const std::function<void()>& after_transfer = {});
    // The whole update on that one port, from Begin to End: the search's
    // handshake there (kPhoneNotFound when no boot loader answers), then Run.
    // Reported as one update (Step::kUpdate), from its beginning to its outcome.
    // search_again, when given, is asked after each handshake that found no
    // boot loader (the port's Refused_Ports say whether it could be opened):
    // true tries the handshake once more, false gives up (kPhoneNotFound).
    Download_Outcome Update_On(const Port_Candidate& phone,
                               const std::function<bool()>& search_again = {});

    // Any thread. Stops the update at once unless the phone is at risk, in
    // which case it returns false and changes nothing (ask the user first).
    bool Stop_If_Harmless();
    // Any thread: stops the update whatever the phase (the user confirmed).
    // An exchange cut short writes nothing more; between exchanges the link
    // is still ended.
    void Stop() { m_port.Request_Stop(); }
    Update_Phase Phase() const { return static_cast<Update_Phase>(m_phase.load()); }
    // Whether the last update began to replace the phone's version record
    // (from then on only a completed transfer leaves a phone that starts).
    bool Phone_Touched() const { return m_phone_touched; }
    const Download_Failure& Failure() const { return m_failure; }
    const Version_Record& Phone_Version() const { return m_phone_version; }
    // The dump file of the last first-run dump.
    const std::string& Dump_Path() const { return m_dump_path; }

  private:
    enum class Check { kPassed, kFailed, kStopped };
    Check Check_Versions(const Port_Candidate& phone);
    bool Program_Flash();
    void Take_Version_From_Dump(const Port_Candidate& phone);
    void Delete_Dump();
    void Name_Kept_Dump();
    void Emit(const report::Update_Event& event) { m_report.On_Event(event); }
    void Say(report::Notice_Event notice) { Emit(report::Update_Event::Of(std::move(notice))); }
    // A notice with the time it is said (the transfer's start and end).
    void Say_Time(report::Notice id);
    // The failure as data, then its notice with the code and, when the port
    // knows it, the notice of why the exchange broke off.
    void Report_Failure(report::Step step, report::Notice step_failed, int code, Io_End end);
    Download_Outcome Stopped();
    void Set_Phase(Update_Phase phase) { m_phase.store(static_cast<int>(phase)); }
    void Failed_At(Download_Step step, int code = 0) {
        const int dump_code = m_failure.dump_code;
        m_failure = {};
        m_failure.step = step;
        m_failure.code = code;
        m_failure.dump_code = dump_code;
    }

    CComport& m_port;
    report::Update_Observer& m_report;
    const Firmware_Image& m_image;
    std::string m_dump_name;
    Version_Record m_phone_version{};
    std::string m_dump_path;
    Dump_File m_dump;          // this update's dump, while it may still be deleted
    bool m_dump_kept = false;  // this update's dump file is on disk
    bool m_phone_touched = false;
    Download_Failure m_failure;
    std::atomic<int> m_phase{static_cast<int>(Update_Phase::kIdle)};
};
