// Journal_Server where no PostgreSQL client is built in (the Windows build):
// no server is ever reached, and every attempt says why, so that a forwarder
// keeps its records in the local journal.
#include "journal/journal_server.h"

#include <utility>

bool Journal_Server::Available() {
    return false;
}

std::string Without_Credentials(std::string text, const std::string&) {
    return text;
}

std::string Conninfo_Problem(const std::string&) {
    return Journal_Server::kUnavailable;
}

Journal_Server::Journal_Server(std::string conninfo) : m_conninfo(std::move(conninfo)) {}

Journal_Server::~Journal_Server() = default;

bool Journal_Server::Connected() const {
    return false;
}

void Journal_Server::Disconnect() {}

std::string Journal_Server::Problem_Text(const std::string& what) const {
    return what;
}

std::string Journal_Server::Where() const {
    return "no server";
}

bool Journal_Server::Connect(std::string& problem) {
    problem = kUnavailable;
    return false;
}

bool Journal_Server::Make_Table(std::string& problem) {
    problem = kUnavailable;
    return false;
}

bool Journal_Server::Send(std::span<const Journal_Record>, std::string& problem) {
    problem = kUnavailable;
    return false;
}
