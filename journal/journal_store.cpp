// The journal's SQLite file: opening with its checks, the schema's steps,
// the records' columns in one table of names and fields.
#include "journal/journal_store.h"

#include <sqlite3.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <system_error>
#include <thread>

#include "platform/shared_file.h"
#include "station/utc_text.h"

namespace {

using namespace std::chrono_literals;

// How long a statement waits for another program's write before it is busy,
// and how often the writer tries again after that.
constexpr int kBusyMilliseconds = 5000;
constexpr int kBusyTries = 6;

// Each step takes the schema from its index to the next version.
const char* const kMigrations[] = {
    // 0 -> 1: the sessions table.
    "CREATE TABLE sessions ("
    " id TEXT PRIMARY KEY, started TEXT NOT NULL, ended TEXT, machine TEXT, station TEXT,"
    " operator TEXT, program_version TEXT, image_path TEXT, image_size INTEGER,"
    " image_sha256 TEXT, image_version TEXT, version_before_hex TEXT, version_before TEXT,"
    " version_after_hex TEXT, version_after TEXT, port TEXT, usb_id TEXT, usb_serial TEXT,"
    " usb_path TEXT, slot TEXT, result TEXT NOT NULL, failed_step TEXT, code INTEGER,"
    " advice TEXT, bytes INTEGER, seconds REAL, dump_file TEXT, log_file TEXT,"
    " trace_file TEXT, pid INTEGER, host TEXT, process_start TEXT,"
    " forwarded INTEGER NOT NULL DEFAULT 0);"
    "CREATE INDEX sessions_started ON sessions(started);",
    // 1 -> 2: the outbox of a line's server, found without reading the
    // whole journal each time a record is written.
    "CREATE INDEX sessions_waiting ON sessions(started) WHERE forwarded = 0;",
};
static_assert(std::size(kMigrations) == Journal_Store::kSchemaVersion);

// The record's columns after id, in the order of the statements below.
struct Column {
    const char* name;
    std::function<void(sqlite3_stmt*, int, const Journal_Record&)> bind;
    std::function<void(sqlite3_stmt*, int, Journal_Record&)> read;
};

void Bind_Text(sqlite3_stmt* statement, int index, const std::string& text) {
    sqlite3_bind_text(statement, index, text.c_str(), static_cast<int>(text.size()),
                      SQLITE_TRANSIENT);
}
std::string Text_At(sqlite3_stmt* statement, int index) {
    const unsigned char* text = sqlite3_column_text(statement, index);
    return text == nullptr
               ? std::string()
               : std::string(reinterpret_cast<const char*>(text),
                             static_cast<std::size_t>(sqlite3_column_bytes(statement, index)));
}

#define JOURNAL_TEXT(field, column)                                                                \
    Column {                                                                                       \
        column, [](sqlite3_stmt* s, int i, const Journal_Record& r) { Bind_Text(s, i, r.field); }, \
            [](sqlite3_stmt* s, int i, Journal_Record& r) { r.field = Text_At(s, i); }             \
    }
#define JOURNAL_INT(field, column)                                                    \
    Column {                                                                          \
        column,                                                                       \
            [](sqlite3_stmt* s, int i, const Journal_Record& r) {                     \
                sqlite3_bind_int64(s, i, static_cast<sqlite3_int64>(r.field));        \
            },                                                                        \
            [](sqlite3_stmt* s, int i, Journal_Record& r) {                           \
                r.field = static_cast<decltype(r.field)>(sqlite3_column_int64(s, i)); \
            }                                                                         \
    }

const std::vector<Column>& Columns() {
    static const std::vector<Column> columns{
        JOURNAL_TEXT(started, "started"),
        JOURNAL_TEXT(ended, "ended"),
        JOURNAL_TEXT(machine, "machine"),
        JOURNAL_TEXT(station, "station"),
        JOURNAL_TEXT(operator_name, "operator"),
        JOURNAL_TEXT(program_version, "program_version"),
        JOURNAL_TEXT(image_path, "image_path"),
        JOURNAL_INT(image_size, "image_size"),
        JOURNAL_TEXT(image_sha256, "image_sha256"),
        JOURNAL_TEXT(image_version, "image_version"),
        JOURNAL_TEXT(version_before_hex, "version_before_hex"),
        JOURNAL_TEXT(version_before, "version_before"),
        JOURNAL_TEXT(version_after_hex, "version_after_hex"),
        JOURNAL_TEXT(version_after, "version_after"),
        JOURNAL_TEXT(port, "port"),
        JOURNAL_TEXT(usb_id, "usb_id"),
        JOURNAL_TEXT(usb_serial, "usb_serial"),
        JOURNAL_TEXT(usb_path, "usb_path"),
        JOURNAL_TEXT(slot, "slot"),
        JOURNAL_TEXT(result, "result"),
        JOURNAL_TEXT(failed_step, "failed_step"),
        JOURNAL_INT(code, "code"),
        JOURNAL_TEXT(advice, "advice"),
        JOURNAL_INT(bytes, "bytes"),
        Column{"seconds",
               [](sqlite3_stmt* s, int i, const Journal_Record& r) {
                   sqlite3_bind_double(s, i, r.seconds);
               },
               [](sqlite3_stmt* s, int i, Journal_Record& r) {
                   r.seconds = sqlite3_column_double(s, i);
               }},
        JOURNAL_TEXT(dump_file, "dump_file"),
        JOURNAL_TEXT(log_file, "log_file"),
        JOURNAL_TEXT(trace_file, "trace_file"),
        JOURNAL_INT(pid, "pid"),
        JOURNAL_TEXT(host, "host"),
        JOURNAL_TEXT(process_start, "process_start"),
        JOURNAL_INT(forwarded, "forwarded"),
    };
    return columns;
}
#undef JOURNAL_TEXT
#undef JOURNAL_INT

std::string Insert_Sql() {
    std::string names = "id";
    std::string marks = "?1";
    int index = 2;
    for (const Column& column : Columns()) {
        names += std::string(", ") + column.name;
        marks += ", ?" + std::to_string(index++);
    }
    return "INSERT INTO sessions (" + names + ") VALUES (" + marks + ")";
}

std::string Update_Sql() {
    std::string sets;
    int index = 2;
    for (const Column& column : Columns()) {
        sets += (sets.empty() ? "" : ", ") + std::string(column.name) + " = ?" +
                std::to_string(index++);
    }
    return "UPDATE sessions SET " + sets + " WHERE id = ?1";
}

std::string Select_Sql() {
    std::string names = "id";
    for (const Column& column : Columns())
        names += std::string(", ") + column.name;
    return "SELECT " + names + " FROM sessions";
}

// One statement, finalised whatever path leaves.
class Statement {
  public:
    Statement(sqlite3* db, const std::string& sql) {
        m_result = sqlite3_prepare_v2(db, sql.c_str(), -1, &m_statement, nullptr);
    }
    ~Statement() { sqlite3_finalize(m_statement); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;
    bool Ok() const { return m_result == SQLITE_OK; }
    int Prepared() const { return m_result; }
    sqlite3_stmt* get() const { return m_statement; }

  private:
    sqlite3_stmt* m_statement = nullptr;
    int m_result = SQLITE_OK;
};

bool Busy(int result) {
    return (result & 0xff) == SQLITE_BUSY || (result & 0xff) == SQLITE_LOCKED;
}

bool Damaged(int result) {
    return (result & 0xff) == SQLITE_NOTADB || (result & 0xff) == SQLITE_CORRUPT;
}

// A statement that returns no rows, tried again while busy.
int Execute(sqlite3* db, const char* sql) {
    int result = SQLITE_OK;
    for (int attempt = 0; attempt < kBusyTries; ++attempt) {
        result = sqlite3_exec(db, sql, nullptr, nullptr, nullptr);
        if (!Busy(result))
            break;
    }
    return result;
}

int Integer_Of(sqlite3* db, const char* sql, int& value) {
    Statement statement(db, sql);
    if (!statement.Ok())
        return statement.Prepared();
    const int result = sqlite3_step(statement.get());
    if (result == SQLITE_ROW)
        value = sqlite3_column_int(statement.get(), 0);
    return result == SQLITE_ROW || result == SQLITE_DONE ? SQLITE_OK : result;
}

std::string Message(sqlite3* db, int result) {
    const char* said = db != nullptr ? sqlite3_errmsg(db) : nullptr;
    return said != nullptr && *said != '\0' ? said : sqlite3_errstr(result);
}

// "20261210T081502Z": a name part that sorts and that every system takes.
std::string Compact_Utc() {
    std::string text = Utc_Text(std::chrono::system_clock::now());
    std::string compact;
    for (const char c : text.substr(0, 19)) {
        if (c != '-' && c != ':')
            compact += c;
    }
    return compact + "Z";
}

// Opens and readies the file; the result that decided, and why in problem.
int Open_Checked(const std::string& path, sqlite3*& db, std::string& problem) {
    const int flags =
        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX | SQLITE_OPEN_NOFOLLOW;
    int result = sqlite3_open_v2(path.c_str(), &db, flags, nullptr);
    if (result != SQLITE_OK) {
        problem = Message(db, result);
        return result;
    }
    sqlite3_extended_result_codes(db, 1);
    sqlite3_busy_timeout(db, kBusyMilliseconds);
    result = Execute(db, "PRAGMA journal_mode=WAL");
    if (result == SQLITE_OK)
        result = Execute(db, "PRAGMA synchronous=FULL");
    std::string check;
    if (result == SQLITE_OK) {
        Statement statement(db, "PRAGMA quick_check(1)");
        result = statement.Prepared();
        if (result == SQLITE_OK) {
            result = sqlite3_step(statement.get());
            if (result == SQLITE_ROW) {
                check = Text_At(statement.get(), 0);
                result = check == "ok" ? SQLITE_OK : SQLITE_CORRUPT;
            }
        }
    }
    if (result != SQLITE_OK)
        problem = check.empty() || check == "ok" ? Message(db, result) : check;
    return result;
}

// Brings the schema up to this program's, once, inside one write.
bool Migrate(sqlite3* db, std::string& problem) {
    int version = 0;
    if (int result = Integer_Of(db, "PRAGMA user_version", version); result != SQLITE_OK) {
        problem = Message(db, result);
        return false;
    }
    if (version > Journal_Store::kSchemaVersion) {
        problem = "it was written by a newer flashtool (schema " + std::to_string(version) + ")";
        return false;
    }
    if (version == Journal_Store::kSchemaVersion)
        return true;
    if (int result = Execute(db, "BEGIN IMMEDIATE"); result != SQLITE_OK) {
        problem = Message(db, result);
        return false;
    }
    // Another program may have done it meanwhile.
    int result = Integer_Of(db, "PRAGMA user_version", version);
    for (; result == SQLITE_OK && version < Journal_Store::kSchemaVersion; ++version)
        result = sqlite3_exec(db, kMigrations[version], nullptr, nullptr, nullptr);
    if (result == SQLITE_OK) {
        const std::string set =
            "PRAGMA user_version = " + std::to_string(Journal_Store::kSchemaVersion);
        result = sqlite3_exec(db, set.c_str(), nullptr, nullptr, nullptr);
    }
    if (result == SQLITE_OK)
        result = Execute(db, "COMMIT");
    if (result != SQLITE_OK) {
        problem = Message(db, result);
        sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
        return false;
    }
    return true;
}

// This host's running records whose process is gone become "interrupted".
int Mark_Interrupted(sqlite3* db) {
    struct Owner {
        std::string id;
        long long pid;
        std::string start;
    };
    std::vector<Owner> gone;
    {
        Statement statement(db,
                            "SELECT id, pid, process_start FROM sessions "
                            "WHERE result = 'running' AND host = ?1");
        if (!statement.Ok())
            return 0;
        Bind_Text(statement.get(), 1, platform::Host_Name());
        while (sqlite3_step(statement.get()) == SQLITE_ROW) {
            Owner owner{Text_At(statement.get(), 0), sqlite3_column_int64(statement.get(), 1),
                        Text_At(statement.get(), 2)};
            if (!platform::Process_Still_Runs(owner.pid, owner.start))
                gone.push_back(owner);
        }
    }
    int marked = 0;
    for (const Owner& owner : gone) {
        Statement statement(db,
                            "UPDATE sessions SET result = 'interrupted', forwarded = 0 "
                            "WHERE id = ?1 AND result = 'running'");
        if (!statement.Ok())
            continue;
        Bind_Text(statement.get(), 1, owner.id);
        for (int attempt = 0; attempt < kBusyTries; ++attempt) {
            const int result = sqlite3_step(statement.get());
            if (!Busy(result)) {
                marked += result == SQLITE_DONE && sqlite3_changes(db) > 0 ? 1 : 0;
                break;
            }
            sqlite3_reset(statement.get());
        }
    }
    return marked;
}

}  // namespace

std::string Default_Journal_Path() {
    const std::string data = platform::Data_Directory();
    const char separator = platform::Path_Separator();
    return data.empty() ? std::string()
                        : data + separator + "flashtool" + separator + "journal.sqlite";
}

Journal_Store::Opened Journal_Store::Open(const std::string& path) {
    Opened opened;
    // The file and the ones SQLite keeps beside it.
    for (const char* suffix : {"", "-wal", "-shm"}) {
        if (std::string why = platform::Shared_File_Problem(path + suffix); !why.empty()) {
            opened.problem = path + suffix + ": " + why;
            return opened;
        }
    }
    const std::filesystem::path folder = std::filesystem::path(path).parent_path();
    std::error_code ignored;
    if (!folder.empty())
        std::filesystem::create_directories(folder, ignored);

    sqlite3* db = nullptr;
    std::string why;
    int result = Open_Checked(path, db, why);
    if (Damaged(result)) {
        // Never deleted: a damaged journal may still be read by hand.
        sqlite3_close(db);
        db = nullptr;
        const std::string aside = path + ".corrupt-" + Compact_Utc();
        std::error_code error;
        std::filesystem::rename(path, aside, error);
        if (error) {
            opened.problem = path + ": " + why + "; it could not be set aside: " + error.message();
            return opened;
        }
        for (const char* suffix : {"-wal", "-shm"}) {
            std::error_code also;
            if (std::filesystem::exists(path + suffix, also))
                std::filesystem::rename(path + suffix, aside + suffix, also);
        }
        opened.set_aside = aside;
        result = Open_Checked(path, db, why);
    }
    if (result != SQLITE_OK || !Migrate(db, why)) {
        sqlite3_close(db);
        opened.problem = path + ": " + why;
        return opened;
    }
    opened.interrupted = Mark_Interrupted(db);
    opened.store.reset(new Journal_Store(db, path));
    return opened;
}

Journal_Store::~Journal_Store() {
    sqlite3_close(m_db);
}

bool Journal_Store::Write(const char* sql, const Journal_Record& record, std::string& problem) {
    Statement statement(m_db, sql);
    if (!statement.Ok()) {
        problem = Message(m_db, statement.Prepared());
        return false;
    }
    Bind_Text(statement.get(), 1, record.id);
    int index = 2;
    for (const Column& column : Columns())
        column.bind(statement.get(), index++, record);
    int result = SQLITE_OK;
    for (int attempt = 0; attempt < kBusyTries; ++attempt) {
        result = sqlite3_step(statement.get());
        if (!Busy(result))
            break;
        sqlite3_reset(statement.get());
        std::this_thread::sleep_for(50ms);
    }
    if (result != SQLITE_DONE) {
        problem = Message(m_db, result);
        return false;
    }
    return true;
}

bool Journal_Store::Insert(const Journal_Record& record, std::string& problem) {
    static const std::string sql = Insert_Sql();
    return Write(sql.c_str(), record, problem);
}

bool Journal_Store::Update(const Journal_Record& record, std::string& problem) {
    static const std::string sql = Update_Sql();
    return Write(sql.c_str(), record, problem);
}

namespace {

// The WHERE clause of a filter, its values to bind in order.
std::string Where_Of(const Journal_Filter& filter, std::vector<std::string>& values) {
    std::string sql = " WHERE 1";
    const auto add = [&](const std::string& value, const char* condition) {
        if (value.empty())
            return;
        values.push_back(value);
        sql += std::string(" AND ") + condition + " ?" + std::to_string(values.size());
    };
    add(filter.since, "started >=");
    add(filter.until, "started <");
    add(filter.result, "result =");
    add(filter.slot, "slot =");
    add(filter.serial, "usb_serial =");
    add(filter.image_sha256, "lower(image_sha256) = lower(");
    if (!filter.image_sha256.empty())
        sql += ")";
    return sql;
}

}  // namespace

namespace {

// The records a SELECT of Select_Sql's columns finds, its values bound in
// order; why not, in problem.
std::vector<Journal_Record> Records_Of(sqlite3* db, const std::string& sql,
                                       const std::vector<std::string>& values,
                                       std::string& problem) {
    std::vector<Journal_Record> records;
    Statement statement(db, sql);
    if (!statement.Ok()) {
        problem = Message(db, statement.Prepared());
        return records;
    }
    for (std::size_t i = 0; i < values.size(); ++i)
        Bind_Text(statement.get(), static_cast<int>(i + 1), values[i]);
    int result = SQLITE_OK;
    while ((result = sqlite3_step(statement.get())) == SQLITE_ROW) {
        Journal_Record record;
        record.id = Text_At(statement.get(), 0);
        int index = 1;
        for (const Column& column : Columns())
            column.read(statement.get(), index++, record);
        records.push_back(std::move(record));
    }
    if (result != SQLITE_DONE)
        problem = Message(db, result);
    return records;
}

}  // namespace

std::vector<Journal_Record> Journal_Store::List(const Journal_Filter& filter,
                                                std::string& problem) {
    std::vector<std::string> values;
    const std::string sql = Select_Sql() + Where_Of(filter, values) + " ORDER BY started, rowid";
    return Records_Of(m_db, sql, values, problem);
}

// ---- The outbox of a line's server ----

std::vector<Journal_Record> Journal_Store::Waiting(int limit, std::string& problem) {
    return Records_Of(m_db,
                      Select_Sql() + " WHERE forwarded = 0 ORDER BY started, rowid LIMIT " +
                          std::to_string(limit),
                      {}, problem);
}

// A record changed since it was read (ended meanwhile, or marked
// interrupted) keeps waiting: the server has not seen that state yet.
bool Journal_Store::Mark_Forwarded(std::span<const Journal_Record> sent, std::string& problem) {
    if (int result = Execute(m_db, "BEGIN IMMEDIATE"); result != SQLITE_OK) {
        problem = Message(m_db, result);
        return false;
    }
    Statement statement(m_db,
                        "UPDATE sessions SET forwarded = 1 WHERE id = ?1 AND result = ?2 "
                        "AND coalesce(ended, '') = ?3");
    int result = statement.Prepared();
    for (std::size_t i = 0; result == SQLITE_OK && i < sent.size(); ++i) {
        sqlite3_reset(statement.get());
        Bind_Text(statement.get(), 1, sent[i].id);
        Bind_Text(statement.get(), 2, sent[i].result);
        Bind_Text(statement.get(), 3, sent[i].ended);
        result = sqlite3_step(statement.get());
        result = result == SQLITE_DONE ? SQLITE_OK : result;
    }
    if (result != SQLITE_OK) {
        problem = Message(m_db, result);
        Execute(m_db, "ROLLBACK");
        return false;
    }
    if (result = Execute(m_db, "COMMIT"); result != SQLITE_OK) {
        problem = Message(m_db, result);
        Execute(m_db, "ROLLBACK");
        return false;
    }
    return true;
}

int Journal_Store::Count_Waiting(std::string& problem) {
    int count = 0;
    if (int result = Integer_Of(m_db, "SELECT count(*) FROM sessions WHERE forwarded = 0", count);
        result != SQLITE_OK) {
        problem = Message(m_db, result);
        return -1;
    }
    return count;
}

// The counts of Stats_Of, grouped by the database: a journal of a million
// records is counted without holding them.
Journal_Stats Journal_Store::Stats(const Journal_Filter& filter, std::string& problem) {
    std::vector<std::string> values;
    const std::string sql =
        "SELECT result, substr(started, 1, 13), coalesce(slot, ''), coalesce(station, ''), "
        "coalesce(failed_step, ''), coalesce(code, 0), count(*) FROM sessions" +
        Where_Of(filter, values) + " GROUP BY 1, 2, 3, 4, 5, 6";
    Journal_Stats stats;
    Statement statement(m_db, sql);
    if (!statement.Ok()) {
        problem = Message(m_db, statement.Prepared());
        return stats;
    }
    for (std::size_t i = 0; i < values.size(); ++i)
        Bind_Text(statement.get(), static_cast<int>(i + 1), values[i]);
    int result = SQLITE_OK;
    while ((result = sqlite3_step(statement.get())) == SQLITE_ROW) {
        Journal_Record group;
        group.result = Text_At(statement.get(), 0);
        group.started = Text_At(statement.get(), 1);
        group.slot = Text_At(statement.get(), 2);
        group.station = Text_At(statement.get(), 3);
        group.failed_step = Text_At(statement.get(), 4);
        group.code = sqlite3_column_int(statement.get(), 5);
        Add_To_Stats(stats, group, sqlite3_column_int(statement.get(), 6));
    }
    if (result != SQLITE_DONE)
        problem = Message(m_db, result);
    return stats;
}
