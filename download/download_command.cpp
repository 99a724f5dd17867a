// The download command, from the click to the idle window: the image
// loaded, the phone searched for, and the phone's update run on the port
// found (phone_update.cpp holds its steps).
//
// The command reports what it does (bootloader/update_report.h); the window's
// Message_Renderer turns that into the calls of the window it has always
// made. Every end of the command leaves the window idle: the image's blocks
// freed, Timer1 off, both buttons enabled.
//
// A stop (the window closing, Ctrl-C) ends the command at the next port call
// without a failure line of its own: the front end says why it stopped.
//
// A search that finds no phone says so, then what it found in the way: a port
// listing that broke, and the ports it was refused.
#include "download/download_command.h"

#include <algorithm>
#include <optional>
#include <string>

#include "download/image_loader.h"
#include "download/notice_texts.h"
#include "platform/files.h"
#include "platform/processes.h"

std::vector<report::Notice_Event> Refused_Ports_Notices(const std::vector<Refused_Port>& refused) {
    using report::Notice;
    std::vector<report::Notice_Event> notices;
    report::Notice_Event no_permission{Notice::kPortsNoPermission};
    for (const Refused_Port& port : refused) {
        switch (port.reason) {
            case Open_Refusal::kNoPermission:
                no_permission.texts.push_back(port.display_name);
                break;
            case Open_Refusal::kInUse: {
                // Who holds it is looked up now, where the system says.
                report::Notice_Event in_use = report::Say(Notice::kPortInUse, port.display_name);
                for (std::string& holder : platform::Port_Holders(port.device_path))
                    in_use.texts.push_back(std::move(holder));
                notices.push_back(std::move(in_use));
                break;
            }
            case Open_Refusal::kNotASerialPort:
                notices.push_back(report::Say(Notice::kNotASerialPort, port.display_name));
                break;
            case Open_Refusal::kOwnTerminal:
                notices.push_back(report::Say(Notice::kOwnTerminal, port.display_name));
                break;
            case Open_Refusal::kNone:
                break;
        }
    }
    if (no_permission.texts.empty())
        return notices;
    // The fix names the group of the first port refused.
    const Refused_Port& first = *std::find_if(refused.begin(), refused.end(), [](const auto& port) {
        return port.reason == Open_Refusal::kNoPermission;
    });
    no_permission.texts.push_back(platform::Device_Group(first.device_path));
    notices.insert(notices.begin(), std::move(no_permission));
    return notices;
}

std::vector<std::string> Refused_Ports_Lines(const std::vector<Refused_Port>& refused) {
    std::vector<std::string> lines;
    for (const report::Notice_Event& notice : Refused_Ports_Notices(refused))
        lines.push_back(text::Notice_Line(notice, Language::kEnglish));
    return lines;
}

std::optional<report::Notice_Event> Port_Listing_Notice(int listing_result) {
    if (listing_result == kPortListOk || listing_result == kPortListNothingFound)
        return std::nullopt;
    return report::Say_Code(report::Notice::kPortListFailed, listing_result);
}

std::optional<std::string> Port_Listing_Line(int listing_result) {
    if (const std::optional<report::Notice_Event> notice = Port_Listing_Notice(listing_result))
        return text::Notice_Line(*notice, Language::kEnglish);
    return std::nullopt;
}

Download_Command::Download_Command(CComport& port, DownloadView& view)
    : m_port(port), m_view(view), m_renderer(view), m_update(port, m_report, m_image) {
    m_report.Add(&m_renderer);
}

Download_Outcome Download_Command::Run() {
    if (m_running)
        return Download_Outcome::kAlreadyRunning;
    m_running = true;
    m_failure = {};
    m_update.Begin();
    Emit(report::Update_Event::Began(report::Step::kUpdate));
    const Download_Outcome outcome = Load_And_Update();
    // Idle again however it ended: the image's blocks freed, the buttons back.
    m_image.Release();
    m_update.End();
    Emit(report::Update_Event::Finished(outcome));
    m_running = false;
    return outcome;
}

Download_Outcome Download_Command::Load_And_Update() {
    // A stop (Ctrl-C, the window closing) ends even the load of a large image.
    const Image_Load_Result loaded =
        Parse_File(m_image, m_report, m_view.Image_Dialog(), {&m_port.Stop_Request()});
    if (m_port.Stop_Requested())
        return Stopped();
    if (loaded != Image_Load_Result::kLoaded) {
        m_failure.step = Download_Step::kImage;
        m_failure.image = loaded;
        return Download_Outcome::kImageNotLoaded;
    }
    return Find_And_Update();
}

// The search, then the phone's update on the port it found.
Download_Outcome Download_Command::Find_And_Update() {
    Say(report::Say(report::Notice::kSearching));
    Say(report::Say(report::Notice::kPleaseWait));
    Port_Candidate phone;
    if (!m_port.Find_Phone(&phone)) {
        if (m_port.Stop_Requested())
            return Stopped();
        Say(report::Say(report::Notice::kNotFound));
        if (std::optional<report::Notice_Event> notice = Port_Listing_Notice(m_port.Last_Listing()))
            Say(std::move(*notice));
        for (report::Notice_Event& notice : Refused_Ports_Notices(m_port.Refused_Ports()))
            Say(std::move(notice));
        m_failure.step = Download_Step::kSearch;
        return Download_Outcome::kPhoneNotFound;
    }
    // The image's bytes are not needed once the transfer has ended.
    const Download_Outcome outcome = m_update.Run(phone, [this] { m_image.Release(); });
    m_failure = m_update.Failure();
    return outcome;
}

// Ends a command stopped before it found the phone: the link closed where
// that means something and the port released, nothing printed (the front end
// says why it stopped).
Download_Outcome Download_Command::Stopped() {
    m_port.End_Session();
    return Download_Outcome::kStopped;
}
