// bench_journal: the journal's two heavy paths against a reference in the
// same run.
//   --part forward: 10,000 ended records forwarded from a local journal to a
//     PostgreSQL server of the bench's own (batched upserts), against a plain
//     loop of single-row INSERTs through libpq into a table like it.
//   --part stats: `flashtool-cli journal stats` over a journal of 1,000,000
//     records, against the same counts asked of the sqlite3 shell.
#include <libpq-fe.h>
#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "bench/update/result_table.h"
#include "journal/journal_forwarder.h"
#include "journal/journal_store.h"
#include "platform/shared_file.h"
#include "tests/support/postgres_server.h"
#include "tests/support/temp_directory.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds_Since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

std::string Fixed(double value, int digits = 2) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", digits, value);
    return text;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

bool Sql(sqlite3* db, const std::string& sql) {
    char* error = nullptr;
    if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error) == SQLITE_OK)
        return true;
    std::fprintf(stderr, "bench_journal: %s: %s\n", sql.substr(0, 60).c_str(), error);
    sqlite3_free(error);
    return false;
}

// count ended sessions written straight into the journal's table, in one
// transaction: a line's day, a station and a slot each, one in ten failed.
bool Fill_Journal(const std::string& path, long count) {
    Journal_Store::Opened opened = Journal_Store::Open(path);  // makes the schema
    if (!opened.store) {
        std::fprintf(stderr, "bench_journal: %s\n", opened.problem.c_str());
        return false;
    }
    opened.store.reset();
    sqlite3* db = nullptr;
    if (sqlite3_open(path.c_str(), &db) != SQLITE_OK)
        return false;
    const std::string fill =
        "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < " +
        std::to_string(count) +
        ") INSERT INTO sessions (id, started, ended, machine, station, image_sha256, port, "
        "usb_id, usb_serial, usb_path, slot, result, failed_step, code, bytes, seconds, "
        "forwarded) SELECT "
        "lower(hex(randomblob(4))) || '-' || lower(hex(randomblob(2))) || '-4' || "
        "substr(lower(hex(randomblob(2))), 2) || '-a' || substr(lower(hex(randomblob(2))), 2) "
        "|| '-' || lower(hex(randomblob(6))), "
        "strftime('%Y-%m-%dT%H:%M:%S', '2026-12-01', '+' || (i * 3) || ' seconds') || '.000Z', "
        "strftime('%Y-%m-%dT%H:%M:%S', '2026-12-01', '+' || (i * 3 + 2) || ' seconds') || "
        "'.500Z', 'pc-' || (i % 4), 'line-' || (i % 4), "
        "'aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa', "
        "'/dev/ttyACM' || (i % 16), '1d6b:0104', 'SN-' || i, '1-1.' || (i % 16), "
        "'A' || (i % 16), CASE WHEN i % 10 = 0 THEN 'failed' ELSE 'updated' END, "
        "CASE WHEN i % 10 = 0 THEN 'rewrite' ELSE '' END, CASE WHEN i % 10 = 0 THEN 10 ELSE 0 "
        "END, 65536, 5.5, 0 FROM n";
    const bool filled =
        Sql(db, "PRAGMA synchronous=OFF") && Sql(db, "BEGIN") && Sql(db, fill) && Sql(db, "COMMIT");
    sqlite3_close(db);
    return filled;
}

struct Child_Run {
    double seconds = -1;
    long peak_kib = 0;
    int exit_code = -1;
};

Child_Run Run_Child(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (const std::string& arg : args)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    const Clock::time_point start = Clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        std::FILE* null = std::freopen("/dev/null", "w", stdout);
        (void)null;
        execv(argv[0], argv.data());
        _exit(127);
    }
    Child_Run run;
    int status = 0;
    rusage usage{};
    if (wait4(pid, &status, 0, &usage) == pid) {
        run.seconds = Seconds_Since(start);
        run.peak_kib = usage.ru_maxrss;
        run.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    return run;
}

void Stats_Part(bench::Result_Table& table, long records, int rounds) {
    test_support::Temp_Directory temp("flashtool-bench-journal");
    const std::string path = temp.File("journal.sqlite");
    std::fprintf(stderr, "bench_journal: filling a journal with %ld records\n", records);
    if (!Fill_Journal(path, records)) {
        table.Add({"journal stats", "FAILED: the journal could not be filled", "", "", "", {}});
        return;
    }
    // The counts journal stats gives, as a shop would ask the shell.
    const std::string same =
        "SELECT count(*), sum(result = 'updated') FROM sessions WHERE result NOT IN ('running', "
        "'no_phone');"
        "SELECT substr(started, 1, 13), count(*), sum(result = 'updated') FROM sessions GROUP BY 1;"
        "SELECT failed_step, code, count(*) FROM sessions WHERE result <> 'updated' GROUP BY 1, 2;"
        "SELECT slot, count(*), sum(result = 'updated') FROM sessions GROUP BY 1;"
        "SELECT station, count(*), sum(result = 'updated') FROM sessions GROUP BY 1;";
    std::vector<double> ours, shell;
    long peak = 0;
    for (int round = 0; round < rounds; ++round) {
        const Child_Run run =
            Run_Child({FLASHTOOL_CLI_PATH, "journal", "stats", "--journal", path});
        const Child_Run reference = Run_Child({"/usr/bin/sqlite3", path, same});
        if (run.exit_code != 0 || reference.exit_code != 0) {
            table.Add({"journal stats over " + std::to_string(records) + " records",
                       "FAILED: exit " + std::to_string(run.exit_code) + " / sqlite3 " +
                           std::to_string(reference.exit_code),
                       "",
                       "",
                       "",
                       {}});
            return;
        }
        ours.push_back(run.seconds);
        shell.push_back(reference.seconds);
        peak = std::max(peak, run.peak_kib);
    }
    const double measured = Median(ours), reference = Median(shell);
    table.Add({"flashtool-cli journal stats over " + std::to_string(records) + " records",
               Fixed(measured) + " s, peak " + std::to_string(peak / 1024) + " MiB",
               "the same counts through the sqlite3 shell: " + Fixed(reference) + " s",
               Fixed(measured / reference),
               "report",
               {}});
}

// PostgreSQL's side of the reference: one INSERT a record, each its own
// transaction, as a first attempt at forwarding would do.
double Plain_Loop(const std::string& conninfo, const std::vector<Journal_Record>& records) {
    PGconn* connection = PQconnectdb(conninfo.c_str());
    PQclear(PQexec(connection,
                   "CREATE TABLE IF NOT EXISTS plain_sessions (LIKE flashtool_sessions "
                   "INCLUDING ALL); TRUNCATE plain_sessions"));
    const char* sql =
        "INSERT INTO plain_sessions (id, started, ended, machine, station, usb_serial, slot, "
        "result, failed_step, code, bytes, seconds) VALUES ($1::uuid, $2::timestamptz, "
        "$3::timestamptz, $4, $5, $6, $7, $8, $9, $10::integer, $11::bigint, $12::double "
        "precision)";
    const Clock::time_point start = Clock::now();
    for (const Journal_Record& r : records) {
        const std::string code = std::to_string(r.code), bytes = std::to_string(r.bytes),
                          seconds = std::to_string(r.seconds);
        const char* values[] = {r.id.c_str(),      r.started.c_str(), r.ended.c_str(),
                                r.machine.c_str(), r.station.c_str(), r.usb_serial.c_str(),
                                r.slot.c_str(),    r.result.c_str(),  r.failed_step.c_str(),
                                code.c_str(),      bytes.c_str(),     seconds.c_str()};
        PGresult* result = PQexecParams(connection, sql, 12, nullptr, values, nullptr, nullptr, 0);
        if (PQresultStatus(result) != PGRES_COMMAND_OK) {
            std::fprintf(stderr, "bench_journal: %s", PQresultErrorMessage(result));
            PQclear(result);
            PQfinish(connection);
            return -1;
        }
        PQclear(result);
    }
    const double seconds = Seconds_Since(start);
    PQfinish(connection);
    return seconds;
}

void Forward_Part(bench::Result_Table& table, long count, int rounds) {
    test_support::Postgres_Server server;
    if (!server.Running()) {
        table.Add({"forwarding", "FAILED: " + server.Error(), "", "", "", {}});
        return;
    }
    test_support::Temp_Directory temp("flashtool-bench-forward");
    std::vector<double> ours, loop;
    for (int round = 0; round < rounds; ++round) {
        const std::string path = temp.File("journal-" + std::to_string(round) + ".sqlite");
        if (!Fill_Journal(path, count)) {
            table.Add({"forwarding", "FAILED: the journal could not be filled", "", "", "", {}});
            return;
        }
        std::string problem;
        std::vector<Journal_Record> records =
            Journal_Store::Open(path).store->Waiting(static_cast<int>(count), problem);
        Journal_Forwarder forwarder(Journal_Store::Open(path).store, server.Conninfo(), nullptr,
                                    std::chrono::hours(1));
        // The forwarder's first pass starts with it; Sync waits for it and
        // then finds nothing left, so the time is the whole outbox's.
        const Clock::time_point start = Clock::now();
        Forward_Status status = forwarder.Sync();
        while (status.waiting != 0 && status.reachable)
            status = forwarder.Sync();
        const double forwarded = Seconds_Since(start);
        if (!status.reachable || status.waiting != 0) {
            table.Add({"forwarding", "FAILED: " + status.problem, "", "", "", {}});
            return;
        }
        const double plain = Plain_Loop(server.Conninfo(), records);
        if (plain < 0) {
            table.Add({"forwarding", "FAILED: the plain loop", "", "", "", {}});
            return;
        }
        ours.push_back(forwarded);
        loop.push_back(plain);
        PGconn* connection = PQconnectdb(server.Conninfo().c_str());
        PQclear(PQexec(connection, "TRUNCATE flashtool_sessions"));
        PQfinish(connection);
    }
    const double measured = Median(ours), reference = Median(loop);
    table.Add({"forwarding " + std::to_string(count) +
                   " records from the local journal to PostgreSQL (records a second)",
               Fixed(count / measured, 0) + " /s (" + Fixed(measured) + " s)",
               "a plain loop of single-row INSERTs through libpq: " + Fixed(count / reference, 0) +
                   " /s (" + Fixed(reference) + " s)",
               Fixed(reference / measured), ">= 1.0", reference / measured >= 1.0});
    table.Note("Forwarding: medians of " + std::to_string(rounds) +
               " rounds; the forwarder's time includes reading the outbox and marking every "
               "record forwarded in the local journal.");
}

}  // namespace

int main(int argc, char** argv) {
    std::string part = "all";
    long records = 1000000;
    long forward = 10000;
    int rounds = 3;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--part") == 0)
            part = argv[i + 1];
        else if (std::strcmp(argv[i], "--records") == 0)
            records = std::atol(argv[i + 1]);
        else if (std::strcmp(argv[i], "--forward") == 0)
            forward = std::atol(argv[i + 1]);
        else if (std::strcmp(argv[i], "--rounds") == 0)
            rounds = std::max(1, std::atoi(argv[i + 1]));
    }
    bench::Result_Table table;
    if (part == "all" || part == "forward")
        Forward_Part(table, forward, rounds);
    if (part == "all" || part == "stats")
        Stats_Part(table, records, rounds);
    table.Print(stdout);
    return table.Any_Failed() ? 1 : 0;
}
