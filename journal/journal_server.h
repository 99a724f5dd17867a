// The line's PostgreSQL database: one table of every station's sessions,
// written by session id, so that a record sent twice, or sent running and
// again once ended, is one row. The program makes the table the first time
// it reaches a server, and refuses a table it did not make or one of a newer
// schema, with the reason. What it says of the server never holds a user
// name or password.
#pragma once

#include <span>
#include <string>

#include "journal/journal_record.h"

typedef struct pg_conn PGconn;

class Journal_Server {
  public:
    // The schema this program writes on the server.
    static constexpr int kSchemaVersion = 1;
    // Whether this build reaches servers at all (the Windows build does not:
    // its records stay in the local journal).
    static bool Available();
    // What a build without servers says when one is asked for.
    static constexpr const char* kUnavailable =
        "this build forwards to no server; the records stay in the local journal";
    // How long a connection attempt and one statement may take: a server
    // that answers slowly holds up the forwarding, never a phone.
    static constexpr int kConnectSeconds = 5;
    static constexpr int kStatementSeconds = 20;

    // conninfo: "postgresql://user@host/db" or "host=... dbname=..."; what
    // it leaves out comes from the PG* environment variables, as libpq does.
    explicit Journal_Server(std::string conninfo);
    ~Journal_Server();
    Journal_Server(const Journal_Server&) = delete;
    Journal_Server& operator=(const Journal_Server&) = delete;

    // Connects unless connected, and makes or checks the table on first
    // contact. false, with why (no credentials in it), otherwise.
    bool Connect(std::string& problem);
    bool Connected() const;
    void Disconnect();
    // Sends the records in one statement: a new id is added, a running row
    // takes the record's newer state, an ended row stays as it is. false
    // (and disconnected when the connection is gone) with why.
    bool Send(std::span<const Journal_Record> records, std::string& problem);
    // "db on host" for messages, from the connection string without its
    // credentials; the socket's folder stands for a local host.
    std::string Where() const;

  private:
    bool Make_Table(std::string& problem);
    std::string Problem_Text(const std::string& what) const;

    std::string m_conninfo;
    PGconn* m_connection = nullptr;
};

// text with the connection string's password replaced by "***" wherever it
// appears, and its user name where a server's message names it.
std::string Without_Credentials(std::string text, const std::string& conninfo);
// Why the connection string cannot be used as written; empty when it can.
// Never holds its credentials.
std::string Conninfo_Problem(const std::string& conninfo);
