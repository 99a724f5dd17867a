// Journal_Forwarder: a thread that carries the local journal's records to a
// line's PostgreSQL server. The local journal is the outbox: a record is
// marked forwarded only once the server has taken it, so a server that is
// away leaves records waiting, and they go, each once, when it is back: at
// the start, after each record written (Poke), and every period. A problem
// is said once when the server is lost and again once it is reached.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "journal/journal_server.h"
#include "journal/journal_store.h"

struct Forward_Status {
    bool reachable = false;  // the last attempt reached the server
    int sent = 0;            // records the server has taken from this forwarder
    int waiting = 0;         // records in the outbox now (-1: unknown)
    std::string problem;     // the last attempt's, without credentials
};

class Journal_Forwarder {
  public:
    // The records of each statement sent: large enough to keep a line's
    // backlog quick, small enough that one statement stays short.
    static constexpr int kBatch = 500;
    static constexpr std::chrono::seconds kPeriod{30};

    // say: a change of reachability, on the forwarder's thread.
    using Say = std::function<void(const Forward_Status& status, const std::string& line)>;
    Journal_Forwarder(std::unique_ptr<Journal_Store> outbox, std::string conninfo, Say say,
                      std::chrono::milliseconds period = kPeriod);
    ~Journal_Forwarder();  // ends the thread; what waits stays in the outbox
    Journal_Forwarder(const Journal_Forwarder&) = delete;
    Journal_Forwarder& operator=(const Journal_Forwarder&) = delete;

    // Any thread: records were written; forward them soon.
    void Poke();
    // Forwards what waits now on the caller's thread, until the outbox is
    // empty or the server fails (journal sync, the end of a run).
    Forward_Status Sync();
    Forward_Status Status() const;
    std::string Where() const { return m_server.Where(); }

  private:
    void Run();
    // One pass over the outbox; needs m_work held.
    void Forward_Waiting();

    std::unique_ptr<Journal_Store> m_outbox;
    Journal_Server m_server;
    Say m_say;
    const std::chrono::milliseconds m_period;
    std::mutex m_work;  // one pass at a time: the thread's or a Sync's
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    Forward_Status m_status;
    bool m_said_lost = false;
    bool m_poked = true;  // the first pass runs at the start
    bool m_closing = false;
    std::thread m_thread;
};
