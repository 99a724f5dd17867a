// The journal on its own: the image's digest against known vectors, the
// file's checks (links, FIFOs, other users' files, damaged files), the
// schema's steps, records of programs that died, and two writers on one file.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "journal/journal_observers.h"
#include "journal/journal_stats.h"
#include "journal/journal_store.h"
#include "journal/journal_writer.h"
#include "journal/sha256.h"
#include "platform/shared_file.h"
#include "tests/support/temp_directory.h"

namespace {

std::string Digest_Of(const std::string& text) {
    Sha256 digest;
    digest.Update({reinterpret_cast<const std::uint8_t*>(text.data()), text.size()});
    return digest.Finish_Hex();
}

Journal_Record Record(const std::string& id, const std::string& started) {
    Journal_Record record;
    record.id = id;
    record.started = started;
    record.host = platform::Host_Name();
    return record;
}

// SQL run on the file from outside the journal, as another program would.
void Run_Sql(const std::string& path, const std::string& sql) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    char* error = nullptr;
    EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error), SQLITE_OK)
        << (error ? error : "");
    sqlite3_free(error);
    sqlite3_close(db);
}

// The standard's vectors, and lengths either side of a block's padding.
TEST(JournalDigest, Sha256MatchesKnownVectors) {
    EXPECT_EQ(Digest_Of(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(Digest_Of("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(Digest_Of("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
    EXPECT_EQ(Digest_Of(std::string(1000000, 'a')),
              "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
    // 55, 56 and 64 bytes: the length fits the last block, or needs another.
    EXPECT_EQ(Digest_Of(std::string(55, 'a')),
              "9f4390f8d30c2dd92ec9f095b65e2b9ae9b0a925a5258e241c9f1e910f734318");
    EXPECT_EQ(Digest_Of(std::string(56, 'a')),
              "b35439a4ac6f0948b6d6f9e3c6af0f5f590ce20f1bde7090ef7970686ec6738a");
    EXPECT_EQ(Digest_Of(std::string(64, 'a')),
              "ffe054fe7ae0cb6dc65c3af9b61d5209f439851db43d0ba5997337df154668eb");
    // Given in pieces that straddle blocks: the same digest.
    Sha256 pieces;
    const std::string text(1000, 'x');
    for (std::size_t at = 0; at < text.size(); at += 37) {
        const std::string piece = text.substr(at, 37);
        pieces.Update({reinterpret_cast<const std::uint8_t*>(piece.data()), piece.size()});
    }
    EXPECT_EQ(pieces.Finish_Hex(), Digest_Of(text));

    test_support::Temp_Directory folder;
    std::ofstream(folder.File("image")) << "abc";
    EXPECT_EQ(Sha256_Of_File(folder.File("image")), Digest_Of("abc"));
    EXPECT_EQ(Sha256_Of_File(folder.File("missing")), "");
}

// A path that is a link, a FIFO, a directory, another user's file or a
// file of two names is refused with the reason, and nothing is made there;
// a damaged file is set aside under a new name, never deleted.
TEST(JournalFile, HostilePathsAreRefusedAndADamagedFileIsSetAside) {
    test_support::Temp_Directory folder;
    const std::string target = folder.File("target.sqlite");
    std::ofstream(target) << "";
    std::filesystem::create_symlink(target, folder.File("link.sqlite"));
    ASSERT_EQ(::mkfifo(folder.File("fifo.sqlite").c_str(), 0600), 0);
    std::filesystem::create_directory(folder.File("dir.sqlite"));
    std::filesystem::create_hard_link(target, folder.File("second-name.sqlite"));
    // Beside a good path, SQLite's own file as a link.
    std::filesystem::create_symlink(target, folder.File("wal.sqlite-wal"));
    struct Row {
        const char* name;
        const char* why;
    };
    std::vector<Row> rows = {
        {"link.sqlite", "it is a symbolic link"},
        {"fifo.sqlite", "it is a FIFO, not a file"},
        {"dir.sqlite", "it is a directory"},
        {"second-name.sqlite", "it has other names (hard links)"},
        {"wal.sqlite", "it is a symbolic link"},
    };
    if (::geteuid() == 0) {
        std::ofstream(folder.File("others.sqlite")) << "";
        ASSERT_EQ(::chown(folder.File("others.sqlite").c_str(), 65534, 65534), 0);
        rows.push_back({"others.sqlite", "it belongs to another user"});
    }
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const Journal_Store::Opened opened = Journal_Store::Open(folder.File(row.name));
        EXPECT_FALSE(opened.store);
        EXPECT_NE(opened.problem.find(row.why), std::string::npos) << opened.problem;
    }
    EXPECT_EQ(std::filesystem::file_size(target), 0u) << "nothing written through a link";

    // Not a database, and a database whose pages are damaged.
    const std::string garbage = folder.File("garbage.sqlite");
    std::ofstream(garbage) << std::string(4096, 'g');
    const std::string damaged = folder.File("damaged.sqlite");
    {
        ASSERT_TRUE(Journal_Store::Open(damaged).store);
        Run_Sql(damaged, "PRAGMA wal_checkpoint(TRUNCATE)");
        std::fstream file(damaged, std::ios::in | std::ios::out | std::ios::binary);
        file.seekp(4096);  // the second page: the table's, its header first
        file << std::string(64, '\xff');
    }
    for (const std::string& path : {garbage, damaged}) {
        SCOPED_TRACE(path);
        const std::string before = [&] {
            std::ifstream file(path, std::ios::binary);
            return std::string(std::istreambuf_iterator<char>(file), {});
        }();
        Journal_Store::Opened opened = Journal_Store::Open(path);
        ASSERT_TRUE(opened.store) << opened.problem;
        ASSERT_NE(opened.set_aside, "");
        EXPECT_EQ(opened.set_aside.rfind(path + ".corrupt-", 0), 0u) << opened.set_aside;
        std::ifstream aside(opened.set_aside, std::ios::binary);
        EXPECT_EQ(std::string(std::istreambuf_iterator<char>(aside), {}), before);
        std::string problem;
        EXPECT_TRUE(opened.store->Insert(Record("a", "2026-12-10T08:00:00.000Z"), problem))
            << problem;
    }
}

// A file of an older schema (0: no table yet, with another program's table
// beside) is brought up to this one and keeps what it had; a newer one is
// refused, not set aside, and not changed.
TEST(JournalFile, OlderSchemasAreMigratedAndANewerOneIsLeftAlone) {
    test_support::Temp_Directory folder;
    const std::string older = folder.File("older.sqlite");
    Run_Sql(older, "CREATE TABLE notes (text TEXT); INSERT INTO notes VALUES ('kept');");
    {
        Journal_Store::Opened opened = Journal_Store::Open(older);
        ASSERT_TRUE(opened.store) << opened.problem;
        std::string problem;
        EXPECT_TRUE(opened.store->Insert(Record("one", "2026-12-10T08:00:00.000Z"), problem))
            << problem;
    }
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(older.c_str(), &db), SQLITE_OK);
    sqlite3_stmt* statement = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(db,
                                 "SELECT (SELECT user_version FROM pragma_user_version), "
                                 "(SELECT text FROM notes), (SELECT forwarded FROM sessions)",
                                 -1, &statement, nullptr),
              SQLITE_OK);
    ASSERT_EQ(sqlite3_step(statement), SQLITE_ROW);
    EXPECT_EQ(sqlite3_column_int(statement, 0), Journal_Store::kSchemaVersion);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(sqlite3_column_text(statement, 1))),
              "kept");
    EXPECT_EQ(sqlite3_column_int(statement, 2), 0) << "not forwarded yet";
    sqlite3_finalize(statement);
    sqlite3_close(db);
    // Opened again: nothing to do, the record is there.
    Journal_Store::Opened again = Journal_Store::Open(older);
    ASSERT_TRUE(again.store);
    std::string problem;
    EXPECT_EQ(again.store->List({}, problem).size(), 1u);

    const std::string newer = folder.File("newer.sqlite");
    Run_Sql(newer, "PRAGMA user_version = 99");
    const Journal_Store::Opened refused = Journal_Store::Open(newer);
    EXPECT_FALSE(refused.store);
    EXPECT_NE(refused.problem.find("newer flashtool (schema 99)"), std::string::npos);
    EXPECT_EQ(refused.set_aside, "");
    EXPECT_TRUE(std::filesystem::exists(newer));
}

// At open, this host's running records whose program is gone become
// "interrupted"; a live program's record and another host's are left alone.
TEST(JournalFile, RunningRecordsOfDeadProgramsAreMarkedInterrupted) {
    test_support::Temp_Directory folder;
    const std::string path = folder.File("journal.sqlite");
    // A process that has ended: its id is free (or reused, with another start).
    const pid_t child = ::fork();
    if (child == 0)
        ::_exit(0);
    ASSERT_GT(child, 0);
    const std::string child_start = platform::Process_Start_Token(child);
    int status = 0;
    ::waitpid(child, &status, 0);
    {
        Journal_Store::Opened opened = Journal_Store::Open(path);
        ASSERT_TRUE(opened.store);
        std::string problem;
        Journal_Record dead = Record("dead", "2026-12-10T08:00:00.000Z");
        dead.pid = child;
        dead.process_start = child_start;
        Journal_Record reused = Record("reused", "2026-12-10T08:00:01.000Z");
        reused.pid = platform::Process_Id();
        reused.process_start = "not this process's start";
        Journal_Record alive = Record("alive", "2026-12-10T08:00:02.000Z");
        alive.pid = platform::Process_Id();
        alive.process_start = platform::Process_Start_Token(alive.pid);
        Journal_Record elsewhere = Record("elsewhere", "2026-12-10T08:00:03.000Z");
        elsewhere.pid = child;
        elsewhere.host = "another-host";
        Journal_Record ended = Record("ended", "2026-12-10T08:00:04.000Z");
        ended.pid = child;
        ended.result = "updated";
        for (const Journal_Record& record : {dead, reused, alive, elsewhere, ended})
            ASSERT_TRUE(opened.store->Insert(record, problem)) << problem;
    }
    Journal_Store::Opened opened = Journal_Store::Open(path);
    ASSERT_TRUE(opened.store);
    EXPECT_EQ(opened.interrupted, 2);
    std::string problem;
    std::map<std::string, std::string> results;
    for (const Journal_Record& record : opened.store->List({}, problem))
        results[record.id] = record.result;
    EXPECT_EQ(results, (std::map<std::string, std::string>{{"dead", "interrupted"},
                                                           {"reused", "interrupted"},
                                                           {"alive", "running"},
                                                           {"elsewhere", "running"},
                                                           {"ended", "updated"}}));
}

// The default file is the user's data folder's, joined with the system's
// separator; with no folder there is none.
TEST(JournalFile, DefaultFileIsInTheUsersDataFolder) {
    const char* before = std::getenv("XDG_DATA_HOME");
    const std::string saved = before != nullptr ? before : "";
    ::setenv("XDG_DATA_HOME", "/srv/line data", 1);
    EXPECT_EQ(Default_Journal_Path(), "/srv/line data/flashtool/journal.sqlite");
    EXPECT_EQ(platform::Path_Separator(), '/');
    if (before != nullptr)
        ::setenv("XDG_DATA_HOME", saved.c_str(), 1);
    else
        ::unsetenv("XDG_DATA_HOME");
}

// Two writers on one file (two stations on one machine), each on its own
// connection and thread: every record is there, started and ended, and no
// write failed for a busy file.
TEST(JournalWriter, TwoWritersOnOneFileLoseNothing) {
    test_support::Temp_Directory folder;
    const std::string path = folder.File("shared.sqlite");
    constexpr int kEach = 50;
    std::vector<std::thread> stations;
    std::atomic<int> failures{0};
    for (int station = 0; station < 2; ++station) {
        stations.emplace_back([&, station] {
            Journal_Store::Opened opened = Journal_Store::Open(path);
            ASSERT_TRUE(opened.store) << opened.problem;
            Journal_Writer writer(std::move(opened.store),
                                  [&](const std::string&) { failures.fetch_add(1); });
            for (int i = 0; i < kEach; ++i) {
                Journal_Record record = Record(New_Session_Id(), "2026-12-10T08:00:00.000Z");
                record.station = "station-" + std::to_string(station);
                writer.Start(record);
                record.result = "updated";
                writer.End(record);
            }
            writer.Flush();
            EXPECT_EQ(writer.Failures(), 0);
        });
    }
    for (std::thread& station : stations)
        station.join();
    EXPECT_EQ(failures.load(), 0);
    Journal_Store::Opened opened = Journal_Store::Open(path);
    ASSERT_TRUE(opened.store);
    std::string problem;
    const std::vector<Journal_Record> records = opened.store->List({}, problem);
    EXPECT_EQ(records.size(), 2u * kEach);
    std::set<std::string> ids;
    for (const Journal_Record& record : records) {
        EXPECT_EQ(record.result, "updated");
        ids.insert(record.id);
    }
    EXPECT_EQ(ids.size(), 2u * kEach) << "every session id is its own";
}

// What a listing takes, and the counts of stats.
TEST(JournalListing, FiltersAndStatsCountWhatTheyShould) {
    test_support::Temp_Directory folder;
    Journal_Store::Opened opened = Journal_Store::Open(folder.File("journal.sqlite"));
    ASSERT_TRUE(opened.store);
    struct Row {
        const char* started;
        const char* result;
        const char* slot;
        const char* serial;
        const char* sha;
        const char* step;
        int code;
    };
    const Row rows[] = {
        {"2026-12-10T08:10:00.000Z", "updated", "A1", "S1", "AB", "", 0},
        {"2026-12-10T08:20:00.000Z", "programming_failed", "A2", "S2", "ab", "download_regions", 9},
        {"2026-12-10T09:05:00.000Z", "updated", "A1", "S3", "cd", "", 0},
        {"2026-12-10T09:50:00.000Z", "no_phone", "A2", "", "cd", "search", 0},
        {"2026-12-11T00:00:00.000Z", "running", "A1", "S1", "cd", "", 0},
    };
    std::string problem;
    int n = 0;
    for (const Row& row : rows) {
        Journal_Record record = Record("r" + std::to_string(n++), row.started);
        record.result = row.result;
        record.slot = row.slot;
        record.usb_serial = row.serial;
        record.image_sha256 = row.sha;
        record.failed_step = row.step;
        record.code = row.code;
        record.station = "bench";
        ASSERT_TRUE(opened.store->Insert(record, problem)) << problem;
    }
    const auto ids = [&](const Journal_Filter& filter) {
        std::string found;
        for (const Journal_Record& record : opened.store->List(filter, problem))
            found += record.id + " ";
        return found;
    };
    EXPECT_EQ(ids({}), "r0 r1 r2 r3 r4 ");
    EXPECT_EQ(ids({.since = "2026-12-10T09"}), "r2 r3 r4 ");
    EXPECT_EQ(ids({.until = "2026-12-10T09"}), "r0 r1 ");
    EXPECT_EQ(ids({.since = "2026-12-10", .until = "2026-12-11"}), "r0 r1 r2 r3 ");
    EXPECT_EQ(ids({.result = "updated"}), "r0 r2 ");
    EXPECT_EQ(ids({.slot = "A2"}), "r1 r3 ");
    EXPECT_EQ(ids({.serial = "S1"}), "r0 r4 ");
    EXPECT_EQ(ids({.image_sha256 = "ab"}), "r0 r1 ") << "either case";
    EXPECT_EQ(ids({.result = "updated; DROP TABLE sessions"}), "");
    EXPECT_EQ(problem, "");

    // The same counts from the records held and from the database's groups.
    for (const Journal_Stats& stats :
         {Stats_Of(opened.store->List({}, problem)), opened.store->Stats({}, problem)}) {
        EXPECT_EQ(stats.total.phones, 3);
        EXPECT_EQ(stats.total.updated, 2);
        EXPECT_EQ(stats.running, 1);
        EXPECT_EQ(stats.no_phone, 1);
        EXPECT_EQ(stats.by_hour.at("2026-12-10T08").phones, 2);
        EXPECT_EQ(stats.by_hour.at("2026-12-10T09").phones, 1);
        EXPECT_EQ(stats.by_slot.at("A1").updated, 2);
        EXPECT_EQ(stats.by_slot.at("A2").phones, 1);
        EXPECT_EQ(stats.failures.size(), 1u);
        EXPECT_EQ(stats.failures.at({"download_regions", 9}), 1);
        EXPECT_EQ(stats.by_station.at("bench").phones, 3);
    }
    EXPECT_EQ(opened.store->Stats({.slot = "A2"}, problem).total.phones, 1);
    EXPECT_EQ(problem, "");
}

// A window's update, ended by its own last event: one record per update,
// with the records read and written, the port found, the bytes, and how it
// failed as the command says; a second update is a record of its own.
TEST(JournalUpdate, AWindowsUpdatesAreEndedByTheirLastEvent) {
    test_support::Temp_Directory folder;
    const std::string path = folder.File("journal.sqlite");
    Journal_Store::Opened opened = Journal_Store::Open(path);
    ASSERT_TRUE(opened.store);
    Journal_Writer writer(std::move(opened.store), {});
    Download_Failure failure;
    failure.step = Download_Step::kDownloadRegions;
    failure.code = 9;
    Update_Journal journal(writer, Journal_Context{.machine = "pc", .station = "desk"},
                           {[&](Download_Outcome outcome) {
                                return Phone_Ending{outcome, failure, true, false, false};
                            },
                            [] { return std::string(); }});
    using report::Update_Event;
    const std::string before = "CVLbootloaderVC_M418ZHTWA00100";
    const std::string after = "CVLbootloaderVC_M418ZHTWA00101";
    const auto bytes = [](const std::string& text) {
        return std::vector<std::uint8_t>(text.begin(), text.end());
    };
    for (const Download_Outcome outcome :
         {Download_Outcome::kProgrammingFailed, Download_Outcome::kUpdated}) {
        journal.On_Event(Update_Event::Began(report::Step::kUpdate));
        journal.On_Event(Update_Event::Of(report::Say(report::Notice::kFoundPort, "/dev/ttyACM0")));
        journal.On_Event(Update_Event::Record(Update_Event::Kind::kImageVersion, bytes(after)));
        journal.On_Event(Update_Event::Record(Update_Event::Kind::kPhoneVersion, bytes(before)));
        journal.On_Event(Update_Event::Record(Update_Event::Kind::kRecordWritten, bytes(after)));
        journal.On_Bytes(0, 40300);
        journal.On_Bytes(20000, 40300);
        if (outcome == Download_Outcome::kUpdated) {
            failure = {};
            journal.On_Bytes(40300, 40300);
        }
        journal.On_Event(Update_Event::Finished(outcome));
    }
    writer.Flush();
    Journal_Store::Opened reader = Journal_Store::Open(path);
    ASSERT_TRUE(reader.store);
    std::string problem;
    const std::vector<Journal_Record> records = reader.store->List({}, problem);
    ASSERT_EQ(records.size(), 2u);
    EXPECT_NE(records[0].id, records[1].id);
    for (const Journal_Record& record : records) {
        const bool updated = record.result == "updated";
        SCOPED_TRACE(record.result);
        EXPECT_EQ(record.station, "desk");
        EXPECT_EQ(record.port, "/dev/ttyACM0");
        EXPECT_EQ(record.image_version, after);
        EXPECT_EQ(record.version_before, before);
        EXPECT_EQ(record.version_before_hex, Hex_Of(before));
        EXPECT_EQ(record.version_after, after);
        EXPECT_EQ(record.failed_step, updated ? "" : "download_regions");
        EXPECT_EQ(record.code, updated ? 0 : 9);
        EXPECT_EQ(record.advice, updated ? "updated" : "programming_failed");
        EXPECT_EQ(record.bytes, updated ? 40300u : 20000u);
        EXPECT_NE(record.ended, "");
    }
    EXPECT_EQ(records[0].result, "programming_failed");
    EXPECT_EQ(records[1].result, "updated");
}

}  // namespace
