// The journal's one writer thread: a phone's thread only hands it a record
// (Start, End) and goes on, so a slow disk or another program holding the
// file never holds up a transfer. A record that cannot be written is said
// once, through the say callback, on the writer's thread; the writer goes on
// with the next.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "journal/journal_record.h"
#include "journal/journal_store.h"

class Journal_Writer {
  public:
    using Say = std::function<void(const std::string& problem)>;
    Journal_Writer(std::unique_ptr<Journal_Store> store, Say say);
    ~Journal_Writer();  // writes what is queued, then ends the thread
    Journal_Writer(const Journal_Writer&) = delete;
    Journal_Writer& operator=(const Journal_Writer&) = delete;

    // Any thread: a session began (inserted) or ended (its record updated).
    void Start(Journal_Record record);
    void End(Journal_Record record);
    // Waits until everything handed over so far is written (or failed).
    void Flush();
    // Before the first record: called on the writer's thread after each
    // record written (a line's forwarder takes it from there).
    void On_Written(std::function<void()> written) { m_written = std::move(written); }
    // How many records could not be written.
    int Failures() const;
    const std::string& Path() const { return m_path; }

  private:
    struct Job {
        bool insert;
        Journal_Record record;
    };
    void Run();
    void Push(Job job);

    std::unique_ptr<Journal_Store> m_store;
    const std::string m_path;
    Say m_say;
    std::function<void()> m_written;
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<Job> m_jobs;
    bool m_writing = false;
    bool m_closing = false;
    bool m_said = false;
    int m_failures = 0;
    std::thread m_thread;
};
