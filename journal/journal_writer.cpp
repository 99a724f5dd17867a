// The writer thread and its queue.
#include "journal/journal_writer.h"

#include <utility>

Journal_Writer::Journal_Writer(std::unique_ptr<Journal_Store> store, Say say)
    : m_store(std::move(store)),
      m_path(m_store ? m_store->Path() : std::string()),
      m_say(std::move(say)),
      m_thread([this] { Run(); }) {}

Journal_Writer::~Journal_Writer() {
    {
        const std::lock_guard lock(m_mutex);
        m_closing = true;
    }
    m_changed.notify_all();
    m_thread.join();
}

void Journal_Writer::Start(Journal_Record record) {
    Push({true, std::move(record)});
}

void Journal_Writer::End(Journal_Record record) {
    Push({false, std::move(record)});
}

void Journal_Writer::Push(Job job) {
    {
        const std::lock_guard lock(m_mutex);
        m_jobs.push_back(std::move(job));
    }
    m_changed.notify_all();
}

void Journal_Writer::Flush() {
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [this] { return m_jobs.empty() && !m_writing; });
}

int Journal_Writer::Failures() const {
    const std::lock_guard lock(m_mutex);
    return m_failures;
}

void Journal_Writer::Run() {
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_changed.wait(lock, [this] { return m_closing || !m_jobs.empty(); });
        if (m_jobs.empty())
            return;  // closing, and everything written
        Job job = std::move(m_jobs.front());
        m_jobs.pop_front();
        m_writing = true;
        lock.unlock();
        std::string problem;
        const bool written = m_store && (job.insert ? m_store->Insert(job.record, problem)
                                                    : m_store->Update(job.record, problem));
        if (written && m_written)
            m_written();
        lock.lock();
        m_writing = false;
        if (!written) {
            ++m_failures;
            if (!m_said && m_say) {
                m_said = true;
                const Say say = m_say;
                lock.unlock();
                say("the journal " + m_path + " could not be written (" + problem +
                    "); the updates go on without it");
                lock.lock();
            }
        }
        m_changed.notify_all();
    }
}
