// flashtool-cli station IMAGE: loads the image once, then updates every
// phone that is plugged in, many at once, until --count phones have
// finished, no phone arrived for --timeout seconds, or a signal stops it.
// The station's events come from its sessions' threads; they are queued and
// shown on this thread (a table, lines or JSON Lines), so that a slow reader
// of the output never holds up a phone's transfer.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "cli/cli_journal.h"
#include "cli/commands.h"
#include "cli/exit_codes.h"
#include "cli/flash_ending.h"
#include "cli/image_file.h"
#include "cli/station_json.h"
#include "cli/station_lines.h"
#include "cli/station_table.h"
#include "cli/station_text.h"
#include "cli/station_traces.h"
#include "cli/suspend_refusal.h"
#include "cli/text_format.h"
#include "download/image_loader.h"
#include "download/notice_lines.h"
#include "platform/detached_output.h"
#include "platform/stop_signals.h"
#include "platform/terminal.h"
#include "station/station.h"
#include "station/station_files.h"
#include "station/station_rows.h"
#include "station/station_words.h"

namespace cli {
namespace {

using namespace std::chrono_literals;

// How often this thread looks at the signals and the clock while no event comes.
constexpr auto kWakeInterval = 100ms;

// The station's events, from its threads to this one. The phones being
// rewritten are counted as the events come, on the station's thread, so
// that a Ctrl-Z finds the count without waiting for this thread.
class Event_Queue {
  public:
    Station::Sink Sink() {
        return [this](const Station_Event& event) {
            {
                const std::lock_guard lock(m_mutex);
                Count_At_Risk(event);
                m_events.push_back(event);
            }
            m_ready.notify_one();
        };
    }
    // Whether a phone is being rewritten; reads one atomic (signal handlers).
    static bool Any_At_Risk(const void* queue) noexcept {
        return static_cast<const Event_Queue*>(queue)->m_at_risk_count.load() > 0;
    }
    // What has come, after waiting up to limit for something.
    std::deque<Station_Event> Take(std::chrono::milliseconds limit) {
        std::unique_lock lock(m_mutex);
        m_ready.wait_for(lock, limit, [this] { return !m_events.empty(); });
        std::deque<Station_Event> taken;
        taken.swap(m_events);
        return taken;
    }

  private:
    void Count_At_Risk(const Station_Event& event) {
        const bool at_risk = event.kind == Station_Event::Kind::kPhase &&
                             event.phase >= Station_Phase::kWritingRecord &&
                             event.phase < Station_Phase::kFinished;
        if (at_risk && m_at_risk.insert(event.phone).second)
            m_at_risk_count.fetch_add(1);
        if (event.kind == Station_Event::Kind::kFinished && m_at_risk.erase(event.phone) > 0)
            m_at_risk_count.fetch_sub(1);
    }

    std::mutex m_mutex;
    std::condition_variable m_ready;
    std::deque<Station_Event> m_events;
    std::set<int> m_at_risk;
    std::atomic<int> m_at_risk_count{0};
};

// Flash's endings for an image, with this command's name in them.
void Print_Image_Ending(Flash_Ending ending, Language language) {
    std::string text = Ending_Text(ending, language, {});
    for (const char* word : {"run flash", "執行 flash"}) {
        const std::string said(word);
        if (const std::size_t at = text.find(said); at != std::string::npos)
            text.replace(at, said.size(), said.substr(0, said.size() - 5) + "station");
    }
    std::fflush(stdout);
    std::fprintf(stderr, "flashtool-cli: %s\n", Displayable_Text(text).c_str());
}

std::string Phone_Name(int phone, const std::string& port, Language language) {
    return Phone_Words(phone, language) + " (" + port + ")";
}

// The station's outputs, whichever the command line chose. JSON Lines and
// lines go through a detached output: a reader that stops reading them
// holds up neither this thread nor its answer to a signal.
class Station_Output {
  public:
    explicit Station_Output(const Arguments& args)
        : m_language(args.language_flag), m_bell(args.bell) {
        if (!args.json && platform::Enable_Cursor_Moves(stdout)) {
            const int columns = platform::Terminal_Columns(stdout);
            m_table.emplace(stdout, m_language, columns > 0 ? columns : 80,
                            platform::Terminal_Rows(stdout));
            // Whoever sets NO_COLOR (to anything) wants none.
            const char* no_colour = std::getenv("NO_COLOR");
            m_table->Use_Colour(no_colour == nullptr || *no_colour == '\0');
            return;
        }
        m_detached.emplace(stdout);
        m_out = m_detached->Stream();
        if (args.json)
            m_json.emplace(m_out, m_language);
        else
            m_lines.emplace(m_out, m_language);
    }

    void Show(const Station_Event& event) {
        if (event.kind == Station_Event::Kind::kArrived)
            m_ports[event.phone] = Displayable_Text(event.port.display_name);
        if (m_bell && event.kind == Station_Event::Kind::kFinished && !event.no_phone &&
            event.outcome != Download_Outcome::kUpdated) {
            std::fputc('\a', stderr);
            std::fflush(stderr);
        }
        if (m_json)
            m_json->Show(event);
        else if (m_table)
            m_table->Show(event);
        else
            m_lines->Show(event);
    }
    void Tick() {
        if (!m_table)
            return;
        const int columns = platform::Terminal_Columns(stdout);
        if (columns > 0)
            m_table->Resize(columns, platform::Terminal_Rows(stdout));
        m_table->Redraw_If_Due(Station_Table::Clock::now());
    }
    // Under the table: the journal's records the line's server has not
    // taken yet (-1: none is named).
    void Records_Waiting(int waiting) {
        if (m_table)
            m_table->Records_Waiting(waiting);
    }

    // The question of a first Ctrl-C while phones are being rewritten.
    void Ask_Before_Stopping(const std::vector<int>& at_risk) {
        std::string names;
        for (const int phone : at_risk) {
            if (!names.empty())
                names += ", ";
            names += Phone_Name(phone, m_ports[phone], m_language);
        }
        const std::string text(text::By_Language(
            m_language,
            names + (at_risk.size() == 1 ? " is" : " are") +
                " being rewritten: stopping now leaves phones that cannot start. The station "
                "stops once they are done; press Ctrl-C again to stop them now.",
            "正在寫入 " + names +
                ":現在停止會讓手機無法開機。寫入完成後即停止;再按一次 Ctrl-C "
                "立即停止。"));
        Notice(text);
        if (m_json)
            m_json->Stop_Asked(at_risk);
    }
    // A line of the program's own: under the table, else on standard error.
    void Notice(const std::string& text) {
        if (m_table) {
            m_table->Notice("flashtool-cli: " + text);
            m_table->Finish(Station_Table::Clock::now());
            return;
        }
        Drain_Unless_Stopped();
        std::fprintf(stderr, "flashtool-cli: %s\n", text.c_str());
    }

    void End(const Station_Summary& summary, int exit_code, int stop_signal,
             std::chrono::milliseconds timeout) {
        if (m_table) {
            m_table->Notice({});
            m_table->Finish(Station_Table::Clock::now());
        }
        const std::string signal_name =
            stop_signal != 0 ? platform::Stop_Signal_Name(stop_signal) : "";
        if (m_json)
            m_json->End(summary, exit_code, signal_name,
                        std::chrono::duration<double>(std::chrono::steady_clock::now() - m_started)
                            .count());
        Drain_Unless_Stopped();
        for (const std::string& line : Record_Lines(summary, m_language))
            std::fprintf(stderr, "flashtool-cli: %s\n", line.c_str());
        std::fprintf(stderr, "flashtool-cli: %s\n",
                     Ending_Line(summary, stop_signal, signal_name, timeout).c_str());
    }

  private:
    // The output before a line on standard error, so that the two keep their
    // order; unless a signal asked to stop while the reader takes nothing:
    // then the rest of the output goes, as for a reader that went away.
    void Drain_Unless_Stopped() {
        std::fflush(m_out);
        if (m_detached)
            m_detached->Drain([] { return platform::Stop_Signal_Count() > 0; });
    }

    std::string Ending_Line(const Station_Summary& summary, int stop_signal,
                            const std::string& signal_name,
                            std::chrono::milliseconds timeout) const {
        const bool english = m_language == Language::kEnglish;
        std::string line;
        if (stop_signal != 0)
            line = english ? "stopped by " + signal_name + "; " : "已由 " + signal_name + " 停止;";
        if (summary.phones.empty()) {
            if (stop_signal != 0)
                return line + (english ? "no phone finished" : "沒有手機完成");
            const std::string seconds = std::to_string((timeout.count() + 999) / 1000);
            return english ? "no phone finished: none arrived for " + seconds + " s"
                           : "沒有手機完成:" + seconds + " 秒內沒有手機接上";
        }
        std::string failed;
        std::string no_phone;  // the ports where no boot loader answered
        for (const Station_Phone_Result& phone : summary.phones) {
            const Station_Row_State state = State_Of(phone);
            if (state == Station_Row_State::kUpdated)
                continue;
            if (state == Station_Row_State::kNoPhone) {
                no_phone +=
                    (no_phone.empty() ? "" : ", ") +
                    Phone_Name(phone.phone, Displayable_Text(phone.port.display_name), m_language);
                continue;
            }
            failed +=
                (failed.empty() ? "" : ", ") +
                Phone_Name(phone.phone, Displayable_Text(phone.port.display_name), m_language) +
                " " + Result_Words(phone.outcome, m_language) +
                (phone.code > 0 ? " (" + Code_Words(phone.code, m_language) + ")" : "");
        }
        // Every phone not updated is named here, stopped ones too, and counted.
        const Station_Counts counts = Count_Results(summary.phones);
        const int updated = counts.updated;
        const int failures = counts.Not_Updated();
        // Not phones: said apart, with what to do if one was a phone after all.
        const std::string not_phones =
            no_phone.empty() ? std::string()
                             : std::string(station_text::kNoPhone.For(m_language)) +
                                   (english ? " on " : ":") + no_phone + " (" +
                                   std::string(station_text::kNoPhoneAdvice.For(m_language)) + ")";
        if (updated + failures == 0 && stop_signal == 0)
            return (english ? "no phone finished: " : "沒有手機完成:") + not_phones;
        if (english) {
            line += std::to_string(updated) + " updated, " + std::to_string(failures) + " failed";
        } else {
            line += std::to_string(updated) + " 支已更新," + std::to_string(failures) + " 支失敗";
        }
        if (!failed.empty())
            line += ": " + failed;
        return not_phones.empty() ? line : line + (english ? "; " : ";") + not_phones;
    }

    Language m_language;
    bool m_bell;
    std::chrono::steady_clock::time_point m_started = std::chrono::steady_clock::now();
    std::optional<platform::Detached_Output> m_detached;
    std::FILE* m_out = stdout;  // the lines' and JSON Lines' stream
    std::optional<Station_Json> m_json;
    std::optional<Station_Table> m_table;
    std::optional<Station_Lines> m_lines;
    std::map<int, std::string> m_ports;  // phone: its port, escaped
};

// Loads and checks the image once, for every phone; nothing when it was
// refused or a signal stopped the load (exit_code says which).
std::shared_ptr<const Firmware_Image> Load_Image(const Arguments& args, int& exit_code) {
    std::optional<Image_File> checked = Check_Image_File(args.image);
    if (!checked) {
        Print_Image_Ending(Flash_Ending::kImageUnreadable, args.language_flag);
        exit_code = kExitImageNotLoaded;
        return nullptr;
    }
    checked.reset();  // the loader opens it again, once, for its header and its data
    auto image = std::make_shared<Firmware_Image>();
    Notice_Lines output(args.language_flag);
    Fixed_Image_File chooser(args.image);
    Stop_Signal stop;
    platform::Set_Stop_Target(&stop);
    const Image_Load_Result loaded = Parse_File(*image, output, chooser, {.stop = &stop});
    platform::Set_Stop_Target(nullptr);
    if (loaded == Image_Load_Result::kStopped) {
        const int signal_number = platform::Stop_Signal_Number();
        std::fprintf(stderr, "flashtool-cli: stopped by %s while the image was read\n",
                     platform::Stop_Signal_Name(signal_number).c_str());
        exit_code = 128 + signal_number;
        return nullptr;
    }
    if (loaded != Image_Load_Result::kLoaded) {
        for (const std::string& line : output.lines)
            std::fprintf(stderr, "%s\n", Displayable_Text(line).c_str());
        Print_Image_Ending(
            loaded == Image_Load_Result::kNotOpened || loaded == Image_Load_Result::kNotReopened
                ? Flash_Ending::kImageUnreadable
                : Flash_Ending::kImageRefused,
            args.language_flag);
        exit_code = kExitImageNotLoaded;
        return nullptr;
    }
    // Standard error, also with --json: standard output holds JSON alone.
    std::fprintf(
        stderr, "flashtool-cli: image %s, version %s, %llu bytes\n",
        Displayable_Text(args.image).c_str(), Record_Text(std::span(image->Image_Version)).c_str(),
        static_cast<unsigned long long>(image->First_Region.Length) + image->Second_Region.Length);
    return image;
}

// The log folder, made if it is missing, checked, held and written in once
// before any phone: null, said why, when it cannot be used.
// what: "the logs", option: "--log-dir", for the message that refuses it.
std::shared_ptr<platform::Private_Directory> Prepare_Log_Dir(const std::string& folder,
                                                             const char* what = "the logs",
                                                             const char* option = "--log-dir") {
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    const char* why = nullptr;
    std::shared_ptr<platform::Private_Directory> directory;
    if (error || !std::filesystem::is_directory(folder, error))
        why = "it is not a folder";
    else if (!(directory = Open_Log_Directory(folder)))
        why = "it is not a folder of this user's alone, in a folder only this user may change";
    else if (!Try_Write(*directory))
        why = "nothing can be written in it";
    if (why == nullptr)
        return directory;
    std::fprintf(stderr, "flashtool-cli: cannot use %s for %s: %s; name a folder for %s.\n",
                 Displayable_Text(folder).c_str(), what, error ? error.message().c_str() : why,
                 option);
    return nullptr;
}

}  // namespace

int Run_Station(const Arguments& args) {
    // The slots file first: a bench whose sockets are mislabelled is worse
    // than one that does not start.
    Port_Filter filter;
    for (const std::string& match : args.matches)
        filter.match.push_back(*Parse_Usb_Match(match));
    if (args.slots) {
        const Slots_Parse slots = Read_Slots_File(*args.slots);
        if (!slots.Ok()) {
            const std::string where =
                slots.bad_line > 0 ? " line " + std::to_string(slots.bad_line) : "";
            std::fprintf(stderr,
                         "flashtool-cli: the slots file %s%s: %s; each line is USB-PATH = LABEL "
                         "(1-1.3 = A3).\n",
                         Displayable_Text(*args.slots).c_str(), where.c_str(),
                         Displayable_Text(slots.error).c_str());
            return kExitUsage;
        }
        filter.sockets = slots.sockets;
        filter.only_slots = args.only_slots;
    }
    std::shared_ptr<platform::Private_Directory> log_directory;
    if (args.log_dir && !(log_directory = Prepare_Log_Dir(*args.log_dir)))
        return kExitUsage;
    // Each phone's trace: made here, so that it outlives the station's port objects.
    std::optional<Station_Traces> traces;
    if (args.trace_dir) {
        std::shared_ptr<platform::Private_Directory> trace_directory =
            Prepare_Log_Dir(*args.trace_dir, "the traces", "--trace-dir");
        if (!trace_directory)
            return kExitUsage;
        traces.emplace(std::move(trace_directory));
    }
    int exit_code = kExitOk;
    const std::shared_ptr<const Firmware_Image> image = Load_Image(args, exit_code);
    if (!image)
        return exit_code;

    Station_Options options;
    options.named_ports = args.ports;
    options.system_ports = args.ports.empty();
    options.filter = filter;
    options.count = args.count;
    options.idle_timeout =
        std::chrono::milliseconds(static_cast<long long>(args.timeout_seconds * 1000.0 + 0.5));
    if (args.timeout_seconds > 0 && options.idle_timeout.count() == 0)
        options.idle_timeout = 1ms;
    if (args.handshake_seconds > 0) {
        options.handshake_timeout = std::max(1ms, std::chrono::milliseconds(static_cast<long long>(
                                                      args.handshake_seconds * 1000.0 + 0.5)));
    }
    options.language = args.language_flag;
    if (traces)
        options.make_port = [&traces](const Port_Candidate& port) {
            return traces->Make_Port(port);
        };

    // The log folder's files follow the station first, so that a phone's
    // end is shown with the log that holds it.
    std::optional<Station_Files> files;
    if (args.log_dir)
        files.emplace(
            log_directory, *args.log_dir,
            Station_Records{options.language, Record_Text(std::span(image->Image_Version))});
    // The journal before any phone: --journal-required starts none without it.
    Journal_Opening journal = Open_Cli_Journal(args, Record_Text(std::span(image->Image_Version)));
    if (journal.refused)
        return kExitUsage;
    Event_Queue events;
    Station_Output output(args);
    Station station(image, options, events.Sink());
    if (files)
        station.Add_Observer(&*files);
    if (journal.journal)
        journal.journal->Watch_Station(station, files ? &*files : nullptr);
    // Every stop signal from here on is answered here, none ends the program.
    Stop_Signal signals;
    platform::Set_Asking_Stop_Target(&signals);
    const Suspend_Refusal refusal(options.language, &Event_Queue::Any_At_Risk, &events);
    if (!station.Start()) {
        platform::Set_Asking_Stop_Target(nullptr);
        std::fprintf(stderr,
                     "flashtool-cli: the ports cannot be watched; run 'flashtool-cli "
                     "doctor' to see why.\n");
        return kExitPhoneNotFound;
    }

    int signals_answered = 0;
    int stop_signal = 0;    // the signal whose stop ends the station
    bool asked = false;     // a first Ctrl-C found phones at risk
    std::set<int> at_risk;  // those phones, until they finish
    bool stop_called = false;
    const auto stop_all = [&](int signal_number) {
        if (stop_signal == 0)
            stop_signal = signal_number;
        if (!stop_called)
            station.Stop();
        stop_called = true;
    };
    for (;;) {
        const bool done = station.Done();
        for (const Station_Event& event : events.Take(done ? 0ms : kWakeInterval)) {
            if (event.kind != Station_Event::Kind::kFinished) {
                output.Show(event);
                continue;
            }
            at_risk.erase(event.phone);
            if (traces)
                traces->Finish(event.phone,
                               std::string("finished ") + Station_Outcome_Name(event.outcome));
            Station_Event finished = event;
            if (files)
                finished.log_file = files->Log_Path(event.phone);
            output.Show(finished);
        }
        if (done)
            break;
        if (signals.Requested()) {
            signals.Clear();
            for (const int count = platform::Stop_Signal_Count(); signals_answered < count;
                 ++signals_answered) {
                const int signal_number = platform::Stop_Signal_Number();
                // Only Ctrl-C has someone at the keyboard to answer; a second
                // one, or any other signal, stops every phone.
                if (!platform::Is_Ctrl_C(signal_number) || asked) {
                    stop_all(signal_number);
                    continue;
                }
                asked = true;
                const std::vector<int> rewriting = station.Stop_If_Harmless();
                if (rewriting.empty()) {
                    stop_all(signal_number);
                    continue;
                }
                stop_signal = signal_number;
                at_risk.insert(rewriting.begin(), rewriting.end());
                output.Ask_Before_Stopping(rewriting);
            }
        }
        // After the question: once the phones at risk are done, nothing is left to wait for.
        if (asked && at_risk.empty() && !stop_called)
            stop_all(stop_signal);
        if (journal.journal)
            output.Records_Waiting(journal.journal->Records_Waiting());
        output.Tick();
    }
    station.Wait_Until_Done();
    platform::Set_Asking_Stop_Target(nullptr);
    Station_Summary summary = station.Summary();
    if (files)
        files->Fill(summary);
    if (journal.journal) {
        journal.journal->Finish();
        summary.records_waiting = journal.journal->Records_Waiting();
    }
    exit_code = Station_Exit_Code(summary, stop_signal);
    output.End(summary, exit_code, stop_signal, options.idle_timeout);
    return exit_code;
}

}  // namespace cli
