// flashtool-cli journal [stats]: the journal's records, oldest first, as
// aligned columns on a terminal (or plain lines), CSV or JSON Lines; or its
// counts: phones per hour, yield, failures by step and code, by slot and by
// station. Times are UTC, as the records keep them.
#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "cli/cli_journal.h"
#include "cli/exit_codes.h"
#include "cli/text_format.h"
#include "journal/journal_forwarder.h"
#include "journal/journal_server.h"
#include "journal/journal_stats.h"
#include "journal/journal_store.h"
#include "station/json_text.h"
#include "station/station_files.h"

namespace cli {
namespace {

// The listing's columns: name and value.
struct Field {
    const char* name;
    std::function<std::string(const Journal_Record&)> value;
};

std::string Seconds_Text(double seconds) {
    char text[32] = {};
    std::snprintf(text, sizeof text, "%.3f", seconds);
    return text;
}

const std::vector<Field>& All_Fields() {
    static const std::vector<Field> fields{
        {"id", [](const Journal_Record& r) { return r.id; }},
        {"started", [](const Journal_Record& r) { return r.started; }},
        {"ended", [](const Journal_Record& r) { return r.ended; }},
        {"machine", [](const Journal_Record& r) { return r.machine; }},
        {"station", [](const Journal_Record& r) { return r.station; }},
        {"operator", [](const Journal_Record& r) { return r.operator_name; }},
        {"program_version", [](const Journal_Record& r) { return r.program_version; }},
        {"image_path", [](const Journal_Record& r) { return r.image_path; }},
        {"image_size", [](const Journal_Record& r) { return std::to_string(r.image_size); }},
        {"image_sha256", [](const Journal_Record& r) { return r.image_sha256; }},
        {"image_version", [](const Journal_Record& r) { return r.image_version; }},
        {"version_before", [](const Journal_Record& r) { return r.version_before; }},
        {"version_before_hex", [](const Journal_Record& r) { return r.version_before_hex; }},
        {"version_after", [](const Journal_Record& r) { return r.version_after; }},
        {"version_after_hex", [](const Journal_Record& r) { return r.version_after_hex; }},
        {"port", [](const Journal_Record& r) { return r.port; }},
        {"usb_id", [](const Journal_Record& r) { return r.usb_id; }},
        {"usb_serial", [](const Journal_Record& r) { return r.usb_serial; }},
        {"usb_path", [](const Journal_Record& r) { return r.usb_path; }},
        {"slot", [](const Journal_Record& r) { return r.slot; }},
        {"result", [](const Journal_Record& r) { return r.result; }},
        {"failed_step", [](const Journal_Record& r) { return r.failed_step; }},
        {"code", [](const Journal_Record& r) { return std::to_string(r.code); }},
        {"advice", [](const Journal_Record& r) { return r.advice; }},
        {"bytes", [](const Journal_Record& r) { return std::to_string(r.bytes); }},
        {"seconds", [](const Journal_Record& r) { return Seconds_Text(r.seconds); }},
        {"dump_file", [](const Journal_Record& r) { return r.dump_file; }},
        {"log_file", [](const Journal_Record& r) { return r.log_file; }},
        {"trace_file", [](const Journal_Record& r) { return r.trace_file; }},
        {"pid", [](const Journal_Record& r) { return std::to_string(r.pid); }},
        {"host", [](const Journal_Record& r) { return r.host; }},
        {"forwarded", [](const Journal_Record& r) { return std::to_string(r.forwarded); }},
    };
    return fields;
}

// The columns a person reads at a terminal.
const char* const kTableColumns[] = {"started", "station",     "slot", "port",    "usb_serial",
                                     "result",  "failed_step", "code", "seconds", "version_after"};

const Field& Field_Named(const char* name) {
    for (const Field& field : All_Fields()) {
        if (std::string(field.name) == name)
            return field;
    }
    return All_Fields().front();
}

bool Numeric(const std::string& name) {
    return name == "image_size" || name == "code" || name == "bytes" || name == "pid" ||
           name == "forwarded";
}

void Print_Json(const std::vector<Journal_Record>& records) {
    for (const Journal_Record& record : records) {
        Json_Object object;
        for (const Field& field : All_Fields()) {
            if (Numeric(field.name))
                object.Number(field.name, std::stoll(field.value(record)));
            else if (std::string(field.name) == "seconds")
                object.Seconds(field.name, record.seconds);
            else
                object.Text(field.name, field.value(record));
        }
        std::printf("%s\n", object.Done().c_str());
    }
}

void Print_Csv(const std::vector<Journal_Record>& records) {
    std::fputs(Journal_Csv_Text(records).c_str(), stdout);
}

void Print_Table(const std::vector<Journal_Record>& records) {
    std::vector<std::vector<std::string>> rows;
    std::vector<std::size_t> widths;
    for (const char* name : kTableColumns)
        widths.push_back(std::string(name).size());
    for (const Journal_Record& record : records) {
        std::vector<std::string> row;
        for (std::size_t i = 0; i < std::size(kTableColumns); ++i) {
            std::string cell = Displayable_Text(Field_Named(kTableColumns[i]).value(record));
            widths[i] = std::max(widths[i], cell.size());
            row.push_back(std::move(cell));
        }
        rows.push_back(std::move(row));
    }
    const auto print_row = [&](const std::vector<std::string>& cells) {
        std::string line;
        for (std::size_t i = 0; i < cells.size(); ++i) {
            std::string cell = cells[i];
            if (i + 1 < cells.size())
                cell.resize(widths[i], ' ');
            line += (i == 0 ? "" : "  ") + cell;
        }
        while (!line.empty() && line.back() == ' ')
            line.pop_back();
        std::printf("%s\n", line.c_str());
    };
    print_row(std::vector<std::string>(std::begin(kTableColumns), std::end(kTableColumns)));
    for (const std::vector<std::string>& row : rows)
        print_row(row);
}

std::string Percent(const Journal_Count& count) {
    char text[32] = {};
    std::snprintf(text, sizeof text, "%.1f%%", 100.0 * count.Yield());
    return text;
}

void Print_Stats(const Journal_Stats& stats, bool json) {
    const auto counts_json = [](const std::map<std::string, Journal_Count>& counts) {
        std::vector<std::string> items;
        std::string text = "{";
        bool first = true;
        for (const auto& [key, count] : counts) {
            text += (first ? "" : ",") + Json_String(key) + ":" +
                    Json_Object()
                        .Number("phones", count.phones)
                        .Number("updated", count.updated)
                        .Done();
            first = false;
        }
        return text + "}";
    };
    if (json) {
        std::string failures = "[";
        for (const auto& [key, count] : stats.failures) {
            failures += (failures.size() > 1 ? "," : "") + Json_Object()
                                                               .Text("step", key.first)
                                                               .Number("code", key.second)
                                                               .Number("phones", count)
                                                               .Done();
        }
        std::printf("%s\n", Json_Object()
                                .Number("phones", stats.total.phones)
                                .Number("updated", stats.total.updated)
                                .Seconds("yield", stats.total.Yield())
                                .Number("running", stats.running)
                                .Number("interrupted", stats.interrupted)
                                .Number("no_phone", stats.no_phone)
                                .Raw("per_hour", counts_json(stats.by_hour))
                                .Raw("failures", failures + "]")
                                .Raw("by_slot", counts_json(stats.by_slot))
                                .Raw("by_station", counts_json(stats.by_station))
                                .Done()
                                .c_str());
        return;
    }
    std::printf("phones %d, updated %d, yield %s; running %d, interrupted %d, no phone %d\n",
                stats.total.phones, stats.total.updated, Percent(stats.total).c_str(),
                stats.running, stats.interrupted, stats.no_phone);
    const auto print_counts = [](const char* title,
                                 const std::map<std::string, Journal_Count>& counts,
                                 const char* none) {
        std::printf("\n%s\n", title);
        for (const auto& [key, count] : counts) {
            std::printf("  %-20s %6d phones %6d updated %7s\n",
                        Displayable_Text(key.empty() ? none : key).c_str(), count.phones,
                        count.updated, Percent(count).c_str());
        }
    };
    print_counts("phones per hour (UTC)", stats.by_hour, "-");
    std::printf("\nfailures by step and code\n");
    for (const auto& [key, count] : stats.failures)
        std::printf("  %-20s code %-6d %6d phones\n", Displayable_Text(key.first).c_str(),
                    key.second, count);
    print_counts("by slot", stats.by_slot, "(no slot)");
    print_counts("by station", stats.by_station, "-");
}

// journal sync and journal init-server: the line's server, named by
// --journal-server (PG* variables fill in what it leaves out).
int Run_Server_Word(const Arguments& args, const std::string& path) {
    if (!Journal_Server::Available()) {
        std::fprintf(stderr, "flashtool-cli: journal %s: %s\n", args.journal_view.c_str(),
                     Journal_Server::kUnavailable);
        return kExitUsage;
    }
    if (!args.journal_server) {
        std::fprintf(stderr,
                     "flashtool-cli: journal %s needs --journal-server URL (a PostgreSQL "
                     "connection string)\n",
                     args.journal_view.c_str());
        return kExitUsage;
    }
    if (args.journal_view == "init-server") {
        Journal_Server server(*args.journal_server);
        std::string problem;
        if (!server.Connect(problem)) {
            std::fprintf(stderr, "flashtool-cli: %s\n", Displayable_Text(problem).c_str());
            return kExitRecordsIncomplete;
        }
        std::printf("the journal's table is ready on %s\n",
                    Displayable_Text(server.Where()).c_str());
        return kExitOk;
    }
    const std::unique_ptr<Journal_Forwarder> forwarder = Forwarder_For(args, path);
    if (!forwarder)
        return kExitRecordsIncomplete;
    // The forwarder's own first pass may be under way: Sync waits for it.
    const Forward_Status status = forwarder->Sync();
    std::printf("%d sent to %s, %d waiting\n", status.sent,
                Displayable_Text(forwarder->Where()).c_str(), std::max(0, status.waiting));
    if (!status.reachable || !status.problem.empty()) {
        std::fprintf(stderr, "flashtool-cli: %s\n", Displayable_Text(status.problem).c_str());
        return kExitRecordsIncomplete;
    }
    return status.waiting == 0 ? kExitOk : kExitRecordsIncomplete;
}

}  // namespace

std::string Journal_Csv_Text(const std::vector<Journal_Record>& records) {
    std::string text;
    for (const Field& field : All_Fields())
        text += (text.empty() ? "" : ",") + std::string(field.name);
    text += "\n";
    for (const Journal_Record& record : records) {
        bool first = true;
        for (const Field& field : All_Fields()) {
            text += (first ? "" : ",") + Csv_Field(Displayable_Text(field.value(record)));
            first = false;
        }
        text += "\n";
    }
    return text;
}

int Run_Journal(const Arguments& args) {
    const std::string path = args.journal ? *args.journal : Default_Journal_Path();
    if (path.empty()) {
        std::fprintf(stderr,
                     "flashtool-cli: the journal has no place: name it with --journal PATH\n");
        return kExitUsage;
    }
    Journal_Store::Opened opened = Journal_Store::Open(path);
    if (!opened.set_aside.empty())
        std::fprintf(stderr,
                     "flashtool-cli: the journal %s was damaged; it was set aside as %s and a new "
                     "one begun\n",
                     Displayable_Text(path).c_str(), Displayable_Text(opened.set_aside).c_str());
    if (!opened.store) {
        std::fprintf(stderr, "flashtool-cli: the journal cannot be read: %s\n",
                     Displayable_Text(opened.problem).c_str());
        return kExitUsage;
    }
    if (args.journal_view == "sync" || args.journal_view == "init-server") {
        opened.store.reset();
        return Run_Server_Word(args, path);
    }
    Journal_Filter filter;
    filter.since = args.since.value_or("");
    filter.until = args.until.value_or("");
    filter.result = args.result.value_or("");
    filter.slot = args.slot.value_or("");
    filter.serial = args.serial.value_or("");
    filter.image_sha256 = args.image_sha256.value_or("");
    std::string problem;
    // Counted by the database: a long journal is never held whole for them.
    const bool stats = args.journal_view == "stats";
    const Journal_Stats counts = stats ? opened.store->Stats(filter, problem) : Journal_Stats{};
    const std::vector<Journal_Record> records =
        stats ? std::vector<Journal_Record>{} : opened.store->List(filter, problem);
    if (!problem.empty()) {
        std::fprintf(stderr, "flashtool-cli: the journal cannot be read: %s\n",
                     Displayable_Text(problem).c_str());
        return kExitUsage;
    }
    if (stats)
        Print_Stats(counts, args.json);
    else if (args.json)
        Print_Json(records);
    else if (args.csv)
        Print_Csv(records);
    else
        Print_Table(records);
    return kExitOk;
}

}  // namespace cli
