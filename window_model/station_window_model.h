// Station_Window_Model: the station window free of any toolkit. It chooses
// and loads the image once, starts and stops a Station on it, and keeps the
// table of phones, one row per arrival, from the station's events. The
// events arrive on the station's threads and are applied on the window's
// thread in the order they were sent (a wake function, then
// Run_Pending_Calls, as for Phone_Panel). It holds no update logic: every
// session is the station's.
//
// The station is made through a factory, so that tests feed events without
// phones; the program passes the real one (window_model/system_station.h).
#pragma once

#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "download/firmware_image.h"
#include "download/texts.h"
#include "download/view_call_queue.h"
#include "station/station.h"
#include "station/station_files.h"
#include "station/station_rows.h"
#include "window_model/station_window_face.h"

// The part of a Station the window drives.
class Station_Control {
  public:
    virtual ~Station_Control() = default;  // stops every session and waits
    // Before Start: another follower of the events (the log folder's files).
    virtual void Add_Observer(Station_Observer* observer) = 0;
    virtual bool Start() = 0;
    virtual std::vector<int> Stop_If_Harmless() = 0;
    virtual void Stop() = 0;
    // Once it has ended: the ports whose phones it handled, still plugged in.
    virtual std::vector<Port_Candidate> Handled_Ports() const = 0;
};
// Which ports the window's stations take as phones': the settings a user
// chooses, as the command's --match, --slots and --only-slots.
struct Station_Port_Choice {
    std::vector<std::string> match{};  // "1d6b:0104", "1d6b:*"; none: every USB device
    std::string slots_file{};          // "USB-PATH = LABEL" lines; empty: none
    bool only_slots = false;           // a port outside the slots file's sockets is skipped
};
// The matches as a user types them in a settings field ("1d6b:0104 1d6b:*",
// or apart by commas or semicolons), one by one.
std::vector<std::string> Split_Matches(std::string_view text);

using Station_Factory = std::function<std::unique_ptr<Station_Control>(
    std::shared_ptr<const Firmware_Image> image, Station_Options options, Station::Sink sink)>;

class Station_Window_Model {
  public:
    // wake may run on any thread: it must make the window's thread call
    // Run_Pending_Calls soon. options: what every station started here gets
    // (the language is the window's).
    Station_Window_Model(Station_Window_Face& face, std::function<void()> wake,
                         Station_Factory factory, Station_Options options = {});
    ~Station_Window_Model();

    // The start state: captions, headers, no rows, only Open image enabled.
    void FormCreate();
    void Set_Language(Language language);
    Language Window_Language() const { return m_language; }

    // ---- The window's controls ----
    // The file dialog, then the loader on the chosen file; a cancel loads
    // nothing and keeps the image held before. Not while a station runs.
    void OpenImageClick();
    // A station on the image, watching the system's ports. Rows of the last
    // station are cleared; the phones it handled that are still plugged in
    // are left alone (a phone is updated once per arrival).
    void StartClick();
    // Stops the station. While phones are being rewritten the question names
    // them first (following them as they finish): "yes" stops every phone,
    // "no" stops nothing and the station goes on taking phones.
    void StopClick();
    // The folder each station started from now on writes its phones' logs
    // and summaries in (made when missing); empty: none are written.
    void Set_Log_Folder(std::string folder) { m_log_folder = std::move(folder); }
    // The ports the stations started from now on take, and the labels of
    // their sockets. A match that is no VID:PID, or a slots file that cannot
    // be read or has a bad line, is refused with its reason in the message
    // area, and the choice held before stays. The slots file is read again
    // at each start, so that a shop's edit takes effect without a restart.
    bool Set_Port_Choice(const Station_Port_Choice& choice);
    // The choice taken; until one is, every station gets the options' filter.
    const Station_Port_Choice& Port_Choice() const {
        static const Station_Port_Choice kNone;
        return m_port_choice ? *m_port_choice : kNone;
    }
    // A line of the window's own in the message area (the journal's problems,
    // its line's server lost and back); on the window's thread.
    void Notice(std::string_view line) { Message(line); }
    // The journal's records a line's server has not taken yet, shown in the
    // status line while there are any; -1: no server is followed.
    void Set_Records_Waiting(int waiting);
    // Whether a close may close the window now: the same question as Stop;
    // true once every session has been stopped (or none ran).
    bool May_Close();
    // Applies the events that have arrived, oldest first.
    void Run_Pending_Calls() { m_calls.Run_Pending(); }
    // Once a second from the window's timer: the elapsed time of phones
    // still working goes on between their events (a handshake may be quiet
    // for many seconds).
    void Tick(std::chrono::steady_clock::time_point now = std::chrono::steady_clock::now());

    // ---- What the window shows, for tests and other views ----
    const std::vector<Station_Row>& Rows() const { return m_rows; }
    // A row's messages, oldest first, the most recent kMaxLinesPerPhone.
    static constexpr std::size_t kMaxLinesPerPhone = 2000;
    const std::deque<std::string>& Lines(std::size_t index) const { return m_lines.at(index); }
    bool Image_Loaded() const { return m_image != nullptr; }
    bool Running() const { return m_station != nullptr && !m_ended; }
    // The station's counts (station_rows.h): a stopped phone is neither
    // updated nor failed; one unplugged before it finished has failed.
    int Updated() const;
    int Failed() const;
    int Working() const;  // arrived, not finished and not gone
    const std::string& Status() const { return m_status; }

  private:
    void Apply(const Station_Event& event);
    void Refresh_Texts(Station_Row& row) const;
    void Show_Buttons();
    void Show_Status();
    void Show_Captions();
    void Message(std::string_view line);
    // Asks about the phones being rewritten until answered; true when the
    // station was stopped.
    bool Stop_Asking();
    enum class Answer { kYes, kNo, kMoot, kEnded };
    Answer Ask_About(const std::vector<int>& phones);
    std::vector<int> Rows_At_Risk() const;
    std::string Question_For(const std::vector<int>& phones) const;
    void Follow_Question(const Station_Event& event);
    void Open_Log_Files();
    // The filter of the choice, its slots file read now; nothing when it is
    // refused (said in the message area).
    std::optional<Port_Filter> Filter_Of(const Station_Port_Choice& choice);
    void Show_Records();
    void Show_Finished(const Station_Row& row);

    Station_Window_Face& m_face;
    Station_Factory m_factory;
    Station_Options m_options;
    Language m_language = Language::kChinese;
    std::shared_ptr<const Firmware_Image> m_image;
    std::string m_image_name;
    std::string m_image_version;
    Station_Row_Model m_model;
    std::chrono::steady_clock::time_point m_started = std::chrono::steady_clock::now();
    std::vector<Station_Row> m_rows;               // the model's rows with their cells
    std::vector<std::deque<std::string>> m_lines;  // by row
    std::string m_status;
    int m_records_waiting = -1;
    bool m_ended = false;
    bool m_taking_phones = false;    // no Stop_If_Harmless yet: new phones are taken
    std::vector<int> m_asked_about;  // the phones the open question names
    bool m_question_open = false;
    bool m_question_moot = false;
    std::string m_log_folder;
    std::optional<Station_Port_Choice> m_port_choice;
    // Ports the last station handled, still plugged in: the next leaves them.
    std::vector<Port_Candidate> m_handled;
    // The log folder's files outlive the station that writes them.
    std::unique_ptr<Station_Files> m_files;
    // The queue outlives the station: the station's threads post into it
    // until the station is gone.
    View_Call_Queue m_calls;
    std::unique_ptr<Station_Control> m_station;
};
