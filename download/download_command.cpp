// The download command, from the click to the idle window: the image
// loaded, the phone searched for, and the phone's update run on the port
// found (phone_update.cpp holds its steps).
//
// Every end of the command leaves the window idle: the image's blocks freed,
// Timer1 off, both buttons enabled (Idle_On_Exit).
//
// Texts from outside in a message line (port names, paths, the system's
// names) are escaped here, where the line is built, so that no window and no
// terminal shows a line feed or a control of theirs.
//
// A stop (the window closing, Ctrl-C) ends the command at the next port call
// without a failure line of its own: the front end says why it stopped.
//
// A search that finds no phone says so, then what it found in the way: a port
// listing that broke, and the ports it was refused.
#include "download/download_command.h"

#include <optional>
#include <string>

#include "download/display_text.h"
#include "download/image_loader.h"
#include "download/texts.h"
#include "platform/files.h"
#include "platform/processes.h"

namespace {

// Puts the window back to idle however Run ends.
class Idle_On_Exit {
  public:
    Idle_On_Exit(DownloadView& view, Firmware_Image& image, bool& running, Phone_Update& update)
        : m_view(view), m_image(image), m_running(running), m_update(update) {}
    ~Idle_On_Exit() {
        m_image.Release();
        m_view.Button_Control(true);
        m_update.End();
        m_running = false;
    }
    Idle_On_Exit(const Idle_On_Exit&) = delete;
    Idle_On_Exit& operator=(const Idle_On_Exit&) = delete;

  private:
    DownloadView& m_view;
    Firmware_Image& m_image;
    bool& m_running;
    Phone_Update& m_update;
};

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

Download_Command::Download_Command(CComport& port, DownloadView& view)
    : m_port(port), m_view(view), m_update(port, view, m_image) {}

Download_Outcome Download_Command::Run() {
    if (m_running)
        return Download_Outcome::kAlreadyRunning;
    m_running = true;
    m_failure = {};
    m_update.Begin();

    m_view.Set_Elapsed_Seconds(0);
    m_view.Button_Control(false);
    Idle_On_Exit idle(m_view, m_image, m_running, m_update);
    m_view.Clean_Memo();
    m_view.Clean_OldTedit();

    // A stop (Ctrl-C, the window closing) ends even the load of a large image.
    const Image_Load_Result loaded =
        Parse_File(m_image, m_view, m_view.Image_Dialog(), {&m_port.Stop_Request()});
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
