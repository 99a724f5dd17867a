// Journal_Server: libpq, one multi-row upsert per batch, the table made
// under an advisory lock so that stations reaching a new server at once do
// not race to create it.
#include "journal/journal_server.h"

#include <libpq-fe.h>

#include <cstdlib>
#include <iterator>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

namespace {

// The server's columns: the session's, in the order they are sent, with the
// type each is cast to. The local bookkeeping (owner process, forwarded) is
// not the line's business.
struct Server_Column {
    const char* name;
    const char* type;
};
constexpr Server_Column kColumns[] = {
    // The session's id as the journal holds it: a UUID from this program,
    // but any text a journal holds must pass, or one record would hold up
    // every record behind it.
    {"id", "text"},
    {"started", "timestamptz"},
    {"ended", "timestamptz"},
    {"machine", "text"},
    {"station", "text"},
    {"operator", "text"},
    {"program_version", "text"},
    {"image_path", "text"},
    {"image_size", "bigint"},
    {"image_sha256", "text"},
    {"image_version", "text"},
    {"version_before_hex", "text"},
    {"version_before", "text"},
    {"version_after_hex", "text"},
    {"version_after", "text"},
    {"port", "text"},
    {"usb_id", "text"},
    {"usb_serial", "text"},
    {"usb_path", "text"},
    {"slot", "text"},
    {"result", "text"},
    {"failed_step", "text"},
    {"code", "integer"},
    {"advice", "text"},
    {"bytes", "bigint"},
    {"seconds", "double precision"},
    {"dump_file", "text"},
    {"log_file", "text"},
    {"trace_file", "text"},
};
constexpr int kColumnCount = static_cast<int>(std::size(kColumns));
// Parameters of one statement stay well under libpq's 65535.
static_assert(kColumnCount * 1000 < 65535);

// A record's values in kColumns' order; nullopt stands for NULL.
std::vector<std::optional<std::string>> Values_Of(const Journal_Record& r) {
    const auto text = [](const std::string& value) { return std::optional<std::string>(value); };
    return {
        text(r.id),
        text(r.started),
        r.ended.empty() ? std::nullopt : text(r.ended),
        text(r.machine),
        text(r.station),
        text(r.operator_name),
        text(r.program_version),
        text(r.image_path),
        text(std::to_string(r.image_size)),
        text(r.image_sha256),
        text(r.image_version),
        text(r.version_before_hex),
        text(r.version_before),
        text(r.version_after_hex),
        text(r.version_after),
        text(r.port),
        text(r.usb_id),
        text(r.usb_serial),
        text(r.usb_path),
        text(r.slot),
        text(r.result),
        text(r.failed_step),
        text(std::to_string(r.code)),
        text(r.advice),
        text(std::to_string(r.bytes)),
        text(std::to_string(r.seconds)),
        text(r.dump_file),
        text(r.log_file),
        text(r.trace_file),
    };
}

struct Result_Free {
    void operator()(PGresult* result) const { PQclear(result); }
};
using Result = std::unique_ptr<PGresult, Result_Free>;

// The first line of libpq's message, which may run on over several.
std::string First_Line(const char* message) {
    std::string line = message == nullptr ? "" : message;
    if (const std::size_t end = line.find('\n'); end != std::string::npos)
        line.resize(end);
    return line;
}

}  // namespace

std::string Without_Credentials(std::string text, const std::string& conninfo) {
    char* error = nullptr;
    PQconninfoOption* options = PQconninfoParse(conninfo.c_str(), &error);
    PQfreemem(error);
    if (options == nullptr)
        return text;
    for (PQconninfoOption* option = options; option->keyword != nullptr; ++option) {
        const std::string keyword = option->keyword;
        if (option->val == nullptr || option->val[0] == '\0' ||
            (keyword != "password" && keyword != "user"))
            continue;
        // A password wherever it appears; a user name where a server's
        // message names it ("role \"NAME\"", "NAME@host"), not inside
        // unrelated words or paths that happen to contain it.
        const std::string secret = option->val;
        const std::vector<std::pair<std::string, std::string>> forms =
            keyword == "password"
                ? std::vector<std::pair<std::string, std::string>>{{secret, "***"}}
                : std::vector<std::pair<std::string, std::string>>{
                      {"\"" + secret + "\"", "\"***\""}, {secret + "@", "***@"}};
        for (const auto& [form, mask] : forms) {
            for (std::size_t at = text.find(form); at != std::string::npos;
                 at = text.find(form, at + mask.size()))
                text.replace(at, form.size(), mask);
        }
    }
    PQconninfoFree(options);
    return text;
}

std::string Conninfo_Problem(const std::string& conninfo) {
    char* error = nullptr;
    PQconninfoOption* options = PQconninfoParse(conninfo.c_str(), &error);
    // libpq's own words may quote the whole string, password and all.
    PQfreemem(error);
    if (options == nullptr)
        return "not a server address (postgresql://USER@HOST/DB or host=HOST dbname=DB)";
    PQconninfoFree(options);
    return {};
}

Journal_Server::Journal_Server(std::string conninfo) : m_conninfo(std::move(conninfo)) {}

Journal_Server::~Journal_Server() {
    Disconnect();
}

bool Journal_Server::Connected() const {
    return m_connection != nullptr && PQstatus(m_connection) == CONNECTION_OK;
}

void Journal_Server::Disconnect() {
    if (m_connection != nullptr)
        PQfinish(m_connection);
    m_connection = nullptr;
}

std::string Journal_Server::Problem_Text(const std::string& what) const {
    return Without_Credentials(what, m_conninfo);
}

std::string Journal_Server::Where() const {
    char* error = nullptr;
    PQconninfoOption* options = PQconninfoParse(m_conninfo.c_str(), &error);
    PQfreemem(error);
    std::string host, database;
    for (PQconninfoOption* option = options; option != nullptr && option->keyword != nullptr;
         ++option) {
        const std::string keyword = option->keyword;
        if (option->val == nullptr)
            continue;
        if (keyword == "host")
            host = option->val;
        else if (keyword == "dbname")
            database = option->val;
    }
    PQconninfoFree(options);
    // What the string leaves out, libpq takes from the environment.
    if (host.empty() && std::getenv("PGHOST") != nullptr)
        host = std::getenv("PGHOST");
    if (database.empty() && std::getenv("PGDATABASE") != nullptr)
        database = std::getenv("PGDATABASE");
    return (database.empty() ? std::string("the default database") : database) + " on " +
           (host.empty() ? std::string("the local server") : host);
}

bool Journal_Server::Connect(std::string& problem) {
    if (Connected())
        return true;
    Disconnect();
    // The caller's own connect_timeout, if any, wins: it comes later.
    const std::string timeout = std::to_string(kConnectSeconds);
    const char* const keywords[] = {"connect_timeout", "application_name", "dbname", nullptr};
    const char* const values[] = {timeout.c_str(), "flashtool", m_conninfo.c_str(), nullptr};
    m_connection = PQconnectdbParams(keywords, values, /*expand_dbname=*/1);
    if (m_connection == nullptr || PQstatus(m_connection) != CONNECTION_OK) {
        problem =
            Problem_Text("cannot reach " + Where() + ": " +
                         First_Line(m_connection ? PQerrorMessage(m_connection) : "no memory"));
        Disconnect();
        return false;
    }
    const std::string limit = "SET statement_timeout = " + std::to_string(kStatementSeconds * 1000);
    Result set(PQexec(m_connection, limit.c_str()));
    if (PQresultStatus(set.get()) != PGRES_COMMAND_OK || !Make_Table(problem)) {
        if (problem.empty())
            problem = Problem_Text(First_Line(PQerrorMessage(m_connection)));
        Disconnect();
        return false;
    }
    return true;
}

// The schema's version lives in a table of its own; a sessions table with
// none was not made by this program and is left alone.
bool Journal_Server::Make_Table(std::string& problem) {
    const auto run = [this, &problem](const std::string& sql) {
        Result result(PQexec(m_connection, sql.c_str()));
        const ExecStatusType status = PQresultStatus(result.get());
        if (status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK)
            return true;
        problem = Problem_Text("the journal's table on " + Where() + ": " +
                               First_Line(PQresultErrorMessage(result.get())));
        return false;
    };
    const auto version_of = [this](int& version) {
        Result result(PQexec(m_connection,
                             "SELECT to_regclass('flashtool_schema') IS NOT NULL,"
                             " to_regclass('flashtool_sessions') IS NOT NULL"));
        if (PQresultStatus(result.get()) != PGRES_TUPLES_OK || PQntuples(result.get()) != 1)
            return -1;
        const bool has_schema = PQgetvalue(result.get(), 0, 0)[0] == 't';
        const bool has_sessions = PQgetvalue(result.get(), 0, 1)[0] == 't';
        if (!has_schema) {
            version = 0;
            return has_sessions ? 1 : 0;  // 1: a table of someone else's
        }
        Result row(PQexec(m_connection, "SELECT max(version) FROM flashtool_schema"));
        if (PQresultStatus(row.get()) != PGRES_TUPLES_OK || PQntuples(row.get()) != 1)
            return -1;
        version = std::atoi(PQgetvalue(row.get(), 0, 0));
        return 0;
    };
    if (!run("BEGIN") || !run("SELECT pg_advisory_xact_lock(4180418)"))
        return false;
    int version = 0;
    const int state = version_of(version);
    std::string why;
    if (state < 0)
        why = First_Line(PQerrorMessage(m_connection));
    else if (state == 1)
        why =
            "a table flashtool_sessions is there that this program did not make (no "
            "flashtool_schema table beside it); it is left alone";
    else if (version > kSchemaVersion)
        why = "the table is of schema version " + std::to_string(version) +
              ", newer than this program's " + std::to_string(kSchemaVersion) +
              "; update the program on this station";
    if (!why.empty()) {
        run("ROLLBACK");
        problem = Problem_Text("the journal's table on " + Where() + " is refused: " + why);
        return false;
    }
    if (version < 1) {
        std::string columns;
        for (const Server_Column& column : kColumns) {
            columns += std::string(columns.empty() ? "" : ", ") + column.name + " " + column.type;
            if (std::string(column.name) == "id")
                columns += " PRIMARY KEY";
        }
        if (!run("CREATE TABLE flashtool_schema (version integer NOT NULL)") ||
            !run("CREATE TABLE flashtool_sessions (" + columns +
                 ", received timestamptz NOT NULL DEFAULT now())") ||
            !run("CREATE INDEX flashtool_sessions_started ON flashtool_sessions (started)") ||
            !run("CREATE INDEX flashtool_sessions_serial ON flashtool_sessions (usb_serial)") ||
            !run("CREATE INDEX flashtool_sessions_image ON flashtool_sessions (image_sha256)") ||
            !run("CREATE INDEX flashtool_sessions_station ON flashtool_sessions (station)") ||
            !run("INSERT INTO flashtool_schema VALUES (1)")) {
            run("ROLLBACK");
            return false;
        }
    }
    // Later versions add their steps here, each from the one before.
    return run("COMMIT");
}

bool Journal_Server::Send(std::span<const Journal_Record> records, std::string& problem) {
    if (records.empty())
        return true;
    if (!Connect(problem))
        return false;
    std::string sql = "INSERT INTO flashtool_sessions (";
    for (int column = 0; column < kColumnCount; ++column)
        sql += std::string(column ? ", " : "") + kColumns[column].name;
    sql += ") VALUES ";
    std::vector<std::optional<std::string>> values;
    values.reserve(records.size() * kColumnCount);
    for (std::size_t row = 0; row < records.size(); ++row) {
        sql += row ? ", (" : "(";
        for (int column = 0; column < kColumnCount; ++column) {
            const std::size_t number = row * kColumnCount + static_cast<std::size_t>(column) + 1;
            sql += std::string(column ? ", $" : "$") + std::to_string(number) +
                   "::" + kColumns[column].type;
        }
        sql += ")";
        for (std::optional<std::string>& value : Values_Of(records[row]))
            values.push_back(std::move(value));
    }
    sql += " ON CONFLICT (id) DO UPDATE SET ";
    for (int column = 1; column < kColumnCount; ++column)
        sql += std::string(column > 1 ? ", " : "") + kColumns[column].name + " = EXCLUDED." +
               kColumns[column].name;
    // A row already ended is final: a late copy of its running state, sent
    // again after a lost answer, must not undo it.
    sql += ", received = now() WHERE flashtool_sessions.result = 'running'";
    std::vector<const char*> pointers;
    pointers.reserve(values.size());
    for (const std::optional<std::string>& value : values)
        pointers.push_back(value ? value->c_str() : nullptr);
    Result result(PQexecParams(m_connection, sql.c_str(), static_cast<int>(pointers.size()),
                               nullptr, pointers.data(), nullptr, nullptr, 0));
    if (PQresultStatus(result.get()) == PGRES_COMMAND_OK)
        return true;
    problem = Problem_Text("sending to " + Where() + ": " +
                           First_Line(PQresultErrorMessage(result.get())));
    if (PQstatus(m_connection) != CONNECTION_OK)
        Disconnect();
    return false;
}

bool Journal_Server::Available() {
    return true;
}
