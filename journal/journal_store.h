// The journal's database: one SQLite file that every station and flash of
// this user writes a record into, shared by several programs at once (WAL,
// a busy time-out), kept safe across a power cut (synchronous=FULL). At
// open the path is checked (no link, FIFO or other user's file), a file that
// is no database or a damaged one is set aside under a new name and a new
// one begun, the schema is brought up to date, and the records of this
// host's programs that died mid-session are marked "interrupted".
#pragma once

#include <memory>
#include <span>
#include <string>
#include <vector>

#include "journal/journal_record.h"
#include "journal/journal_stats.h"

struct sqlite3;

// Which records a listing takes; empty: any.
struct Journal_Filter {
    std::string since{};  // started at or after (UTC text, or a prefix of it: "2026-12-10")
    std::string until{};  // started before
    std::string result{};
    std::string slot{};
    std::string serial{};  // the USB serial number
    std::string image_sha256{};
};

// The journal's file when none is named: $XDG_DATA_HOME/flashtool/
// journal.sqlite (else ~/.local/share/...); empty where there is no home.
std::string Default_Journal_Path();

class Journal_Store {
  public:
    // The schema this program writes. Version 0 is a file with no table yet.
    static constexpr int kSchemaVersion = 2;

    struct Opened {
        std::unique_ptr<Journal_Store> store;  // null: refused or failed
        std::string problem;                   // why not
        std::string set_aside;                 // a damaged file renamed to this
        int interrupted = 0;                   // records marked "interrupted"
    };
    // Opens the journal at path, made with its folder when missing.
    static Opened Open(const std::string& path);

    ~Journal_Store();
    Journal_Store(const Journal_Store&) = delete;
    Journal_Store& operator=(const Journal_Store&) = delete;

    // Each waits out another program's write (busy time-out) and is tried
    // again while the file stays busy; false with why in problem otherwise.
    bool Insert(const Journal_Record& record, std::string& problem);
    bool Update(const Journal_Record& record, std::string& problem);
    // Oldest first.
    std::vector<Journal_Record> List(const Journal_Filter& filter, std::string& problem);
    // The counts of journal stats over the records the filter takes.
    Journal_Stats Stats(const Journal_Filter& filter, std::string& problem);
    const std::string& Path() const { return m_path; }

    // The outbox of a line's server: the records it has not yet taken in
    // their present state, oldest first; marking those sent; how many wait
    // (-1 when it cannot be counted).
    std::vector<Journal_Record> Waiting(int limit, std::string& problem);
    bool Mark_Forwarded(std::span<const Journal_Record> sent, std::string& problem);
    int Count_Waiting(std::string& problem);

  private:
    Journal_Store(sqlite3* db, std::string path) : m_db(db), m_path(std::move(path)) {}
    bool Write(const char* sql, const Journal_Record& record, std::string& problem);

    sqlite3* m_db;
    std::string m_path;
};
