// The journal a window keeps for its whole run: the store at its path, the
// one writer thread its phones hand records to, and, for a line, the
// forwarder that carries them to the line's server. What goes wrong is said
// through one callback, once, in words fit for the window's message area.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "journal/journal_writer.h"

class Journal_Forwarder;

class Journal_Service {
  public:
    // Any thread; a line each, without credentials. It must not call back
    // into the service (a window posts the line to its own thread).
    using Say = std::function<void(const std::string& line)>;

    // The journal at path (empty: none can be kept, no home folder); null
    // when it cannot be used. What opening it finds is said at once through
    // say_now; what comes later waits for Say_To.
    static std::unique_ptr<Journal_Service> Open(const std::string& path, const Say& say_now);
    ~Journal_Service();  // what is queued is written; what waits stays in the outbox
    Journal_Service(const Journal_Service&) = delete;
    Journal_Service& operator=(const Journal_Service&) = delete;

    Journal_Writer& Writer() { return *m_writer; }
    // Where the lines of the writer and the forwarder go from now on; the
    // ones said before are handed over first. An empty one keeps them until
    // the next; once this returns, the callback before is never called again.
    void Say_To(Say say);

    // The line's server the records go to from now on ("postgresql://..."
    // or "host=... dbname=..."; empty: none). One that was followed before
    // lets go on a thread of its own, so that a server slow to answer never
    // holds up the caller.
    void Forward_To(const std::string& conninfo);
    // Records the line's server has not taken yet; -1 without a server.
    int Records_Waiting() const;
    // "db on host" of the server followed; empty without one.
    std::string Server_Where() const;

  private:
    Journal_Service(std::unique_ptr<Journal_Store> store, std::string path);
    void Pass_On(const std::string& line);

    const std::string m_path;
    std::mutex m_say_mutex;
    Say m_say;
    std::vector<std::string> m_unsaid;  // before Say_To
    mutable std::mutex m_mutex;
    std::shared_ptr<Journal_Forwarder> m_forwarder;  // the writer's hook pokes it
    std::vector<std::thread> m_retiring;             // forwarders letting go
    std::unique_ptr<Journal_Writer> m_writer;        // ends first: its hook needs the rest
};
