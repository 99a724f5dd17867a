// The command line's journal over the journal layer: the path it chose or
// the user's default, the records' shared fields, the writer thread.
#include "cli/cli_journal.h"

#include <algorithm>
#include <cstdio>

#include "cli/text_format.h"
#include "journal/journal_forwarder.h"
#include "journal/journal_observers.h"
#include "journal/journal_store.h"
#include "journal/journal_writer.h"

namespace cli {
namespace {

void Say(const std::string& text) {
    std::fflush(stdout);
    std::fprintf(stderr, "flashtool-cli: %s\n", Displayable_Text(text).c_str());
}

class Sqlite_Journal final : public Cli_Journal {
  public:
    // forwarder: to a line's server (--journal-server), or null.
    Sqlite_Journal(std::unique_ptr<Journal_Store> store, Journal_Context context,
                   std::unique_ptr<Journal_Forwarder> forwarder)
        : m_forwarder(std::move(forwarder)),
          m_writer(std::move(store), [](const std::string& problem) { Say(problem); }),
          m_context(std::move(context)),
          m_flash(m_writer, m_context) {
        if (m_forwarder)
            m_writer.On_Written([this] { m_forwarder->Poke(); });
    }
    int Records_Waiting() const override {
        return m_forwarder ? std::max(0, m_forwarder->Status().waiting) : -1;
    }

    void Watch_Station(Station& station, const Station_Files* files) override {
        m_station.emplace(m_writer, m_context, files);
        station.Add_Observer(&*m_station);
    }
    report::Update_Observer* Flash_Observer() override { return &m_flash; }
    void End_Flash(Download_Outcome outcome, const Phone_Ending& ending,
                   const std::string& dump_file) override {
        m_flash.End(outcome, ending, dump_file);
    }
    bool Finish() override {
        m_writer.Flush();
        // The last records go now, unless the server was away: then they
        // wait for the next run or journal sync, and that is said.
        if (m_forwarder && m_forwarder->Status().reachable) {
            const Forward_Status status = m_forwarder->Sync();
            if (status.waiting > 0)
                Say(std::to_string(status.waiting) +
                    " journal records wait for the line's server; 'flashtool-cli journal sync' "
                    "sends them");
        }
        return m_writer.Failures() == 0;
    }

  private:
    // Last to go: the writer's hook pokes it until the writer has ended.
    std::unique_ptr<Journal_Forwarder> m_forwarder;
    Journal_Writer m_writer;
    const Journal_Context m_context;
    Update_Journal m_flash;
    std::optional<Station_Journal> m_station;
};

}  // namespace

std::unique_ptr<Journal_Forwarder> Forwarder_For(const Arguments& args, const std::string& path) {
    if (!args.journal_server)
        return nullptr;
    if (!Journal_Server::Available()) {
        Say(Journal_Server::kUnavailable);
        return nullptr;
    }
    // The outbox has a connection of its own beside the writer's.
    Journal_Store::Opened outbox = Journal_Store::Open(path);
    if (!outbox.store) {
        Say("the journal's records cannot be forwarded: " + outbox.problem);
        return nullptr;
    }
    return std::make_unique<Journal_Forwarder>(
        std::move(outbox.store), *args.journal_server,
        [](const Forward_Status&, const std::string& line) { Say(line); });
}

Journal_Opening Open_Cli_Journal(const Arguments& args, const std::string& image_version) {
    Journal_Opening opening;
    if (args.no_journal)
        return opening;
    const std::string path = args.journal ? *args.journal : Default_Journal_Path();
    const auto refuse = [&](const std::string& why) {
        opening.refused = args.journal_required;
        Say("the journal " + why +
            (args.journal_required ? "; --journal-required: no phone is started"
                                   : "; the update goes on without it"));
        return std::move(opening);
    };
    if (path.empty())
        return refuse("has no place: name one with --journal PATH");
    Journal_Store::Opened opened = Journal_Store::Open(path);
    if (!opened.set_aside.empty())
        Say("the journal " + path + " was damaged; it was set aside as " + opened.set_aside +
            " and a new one begun");
    if (!opened.store)
        return refuse("cannot be used: " + opened.problem);
    Journal_Context context = Journal_Context_For(args.image, FLASHTOOL_VERSION);
    context.station = args.station_name.value_or("");
    context.operator_name = args.operator_name.value_or("");
    context.image_version = image_version;
    context.trace_file = args.trace.value_or("");
    opening.journal = std::make_unique<Sqlite_Journal>(std::move(opened.store), std::move(context),
                                                       Forwarder_For(args, path));
    return opening;
}

}  // namespace cli
