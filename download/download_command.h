// The download command: everything between a click on Download and the
// window being ready for the next click. Load the image, find the phone, and
// run the phone's update on the port found (phone_update.h): check and write
// its version record (dumping the boot loader on a first run), announce and
// send both flash regions, and say how it went.
//
// Run() works on the thread that calls it; the windows call it on a worker
// thread through Update_Runner, with a view whose calls reach the window's
// thread. Stop_If_Harmless and Stop may be called from any thread.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "bootloader/comport.h"
#include "bootloader/records.h"
#include "download/download_view.h"
#include "download/firmware_image.h"
#include "download/message_renderer.h"
#include "download/phone_update.h"
#include "download/update_outcome.h"
#include "serial/port_list.h"

class Download_Command {
  public:
    // Wires the port to the command's report, which the view is shown
    // through (Message_Renderer).
    Download_Command(CComport& port, DownloadView& view);
    Download_Command(const Download_Command&) = delete;
    Download_Command& operator=(const Download_Command&) = delete;

    // Another follower of the command's report (a log, a journal), besides
    // the view; null changes nothing. Not while the command runs.
    void Add_Observer(report::Update_Observer* observer) { m_report.Add(observer); }

    // DownloadClick: runs the whole command on the caller's thread. A call
    // made while a command runs returns kAlreadyRunning at once and changes
    // nothing.
    Download_Outcome Run();

    // Any thread. Stops the command at once unless the phone is at risk, in
    // which case it returns false and changes nothing (ask the user first).
    bool Stop_If_Harmless() { return m_update.Stop_If_Harmless(); }
    // Any thread: stops the command whatever the phase (the user confirmed).
    // An exchange cut short writes nothing more; between exchanges the link
    // is still ended.
    void Stop() { m_update.Stop(); }
    Update_Phase Phase() const { return m_update.Phase(); }
    // Whether the last command began to replace the phone's version record
    // (from then on only a completed transfer leaves a phone that starts).
    bool Phone_Touched() const { return m_update.Phone_Touched(); }
    // The step at which the last command failed, and why.
    const Download_Failure& Last_Failure() const { return m_failure; }

    Firmware_Image& Image() { return m_image; }
    const Firmware_Image& Image() const { return m_image; }
    const Version_Record& Phone_Version() const { return m_update.Phone_Version(); }
    // The dump file of the last first-run dump (chosen per machine and port).
    const std::string& Dump_Path() const { return m_update.Dump_Path(); }

  private:
    Download_Outcome Load_And_Update();
    Download_Outcome Find_And_Update();
    Download_Outcome Stopped();
    void Emit(const report::Update_Event& event) { m_report.On_Event(event); }
    void Say(report::Notice_Event notice) { Emit(report::Update_Event::Of(std::move(notice))); }

    CComport& m_port;
    DownloadView& m_view;
    Message_Renderer m_renderer;
    report::Update_Fan_Out m_report;
    Firmware_Image m_image;
    Phone_Update m_update;
    bool m_running = false;
    Download_Failure m_failure;
};

// The notices that follow "can not find the comport" when the search was
// refused some ports, and their lines: those the user may not open, with the
// fix (the device's group); each port held by another program, with the
// holders where the system names them; paths that are no serial port or are
// the user's own terminal. None when no port was refused.
std::vector<report::Notice_Event> Refused_Ports_Notices(const std::vector<Refused_Port>& refused);
std::vector<std::string> Refused_Ports_Lines(const std::vector<Refused_Port>& refused);
// The notice that follows "can not find the comport" when the port listing
// itself broke, and its line.
std::optional<report::Notice_Event> Port_Listing_Notice(int listing_result);
// The line that follows "can not find the comport" when the port listing
// itself broke (a Port_List_Result other than ports found or none there):
// what broke, with the listing's code. None for a listing that worked.
std::optional<std::string> Port_Listing_Line(int listing_result);
