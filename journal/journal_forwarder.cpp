// Journal_Forwarder: batches from the outbox to the server, each marked
// forwarded once the server's answer says it took them.
#include "journal/journal_forwarder.h"

Journal_Forwarder::Journal_Forwarder(std::unique_ptr<Journal_Store> outbox, std::string conninfo,
                                     Say say, std::chrono::milliseconds period)
    : m_outbox(std::move(outbox)),
      m_server(std::move(conninfo)),
      m_say(std::move(say)),
      m_period(period),
      m_thread([this] { Run(); }) {}

Journal_Forwarder::~Journal_Forwarder() {
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_closing = true;
    }
    m_changed.notify_all();
    m_thread.join();
}

void Journal_Forwarder::Poke() {
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_poked = true;
    }
    m_changed.notify_all();
}

Forward_Status Journal_Forwarder::Status() const {
    const std::lock_guard<std::mutex> lock(m_mutex);
    return m_status;
}

Forward_Status Journal_Forwarder::Sync() {
    const std::lock_guard<std::mutex> work(m_work);
    Forward_Waiting();
    return Status();
}

void Journal_Forwarder::Run() {
    std::unique_lock<std::mutex> lock(m_mutex);
    while (!m_closing) {
        m_changed.wait_for(lock, m_period, [this] { return m_poked || m_closing; });
        if (m_closing)
            break;
        m_poked = false;
        lock.unlock();
        {
            const std::lock_guard<std::mutex> work(m_work);
            Forward_Waiting();
        }
        lock.lock();
    }
}

void Journal_Forwarder::Forward_Waiting() {
    std::string problem;
    int sent = 0;
    bool reached = true;
    for (;;) {
        const std::vector<Journal_Record> batch = m_outbox->Waiting(kBatch, problem);
        if (!problem.empty() || batch.empty())
            break;
        if (!m_server.Send(batch, problem)) {
            reached = false;
            break;
        }
        // Taken by the server: a failure to mark them sends them again
        // later, which the server's upsert makes harmless.
        if (!m_outbox->Mark_Forwarded(batch, problem))
            break;
        sent += static_cast<int>(batch.size());
        if (batch.size() < static_cast<std::size_t>(kBatch))
            break;
        {
            const std::lock_guard<std::mutex> lock(m_mutex);
            if (m_closing)
                break;
        }
    }
    // Nothing waited, and the server was never asked: reach it anyway, so
    // that its absence is said before records pile up.
    if (reached && sent == 0 && problem.empty() && !m_server.Connected())
        reached = m_server.Connect(problem);
    std::string ignored;
    const int waiting = m_outbox->Count_Waiting(ignored);
    std::string line;
    Forward_Status status;
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_status.reachable = reached;
        m_status.sent += sent;
        m_status.waiting = waiting;
        m_status.problem = problem;
        if (!reached && !m_said_lost) {
            m_said_lost = true;
            line =
                "the line's journal server cannot be reached; records wait in the local "
                "journal and go when it is back: " +
                problem;
        } else if (reached && m_said_lost) {
            m_said_lost = false;
            line = "the line's journal server " + m_server.Where() + " is reached again";
        }
        status = m_status;
    }
    if (!line.empty() && m_say)
        m_say(status, line);
}
