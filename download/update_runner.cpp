// Update_Runner: one worker thread per update. Its last act is a call that
// tells the front end's thread that the update has ended.
#include "download/update_runner.h"

#include <chrono>
#include <utility>

Update_Runner::Update_Runner(DownloadView& window_view, std::function<void()> wake,
                             std::unique_ptr<CComport> port)
    : m_queue(std::move(wake)),
      m_queued_view(window_view, m_queue),
      m_port(std::move(port)),
      m_command(*m_port, m_queued_view) {}

Update_Runner::~Update_Runner() {
    if (m_worker.joinable()) {
        Stop();
        Finish_Before_Exit();
    }
}

bool Update_Runner::Start() {
    if (m_running.load())
        return false;
    Join();  // the previous worker has posted its last call already
    // A stop asked for before this point (Ctrl-C while the command line was
    // being set up) is kept: it stops this run at once.
    m_running.store(true);
    m_worker = std::thread([this] {
        const Download_Outcome outcome = m_command.Run();
        m_queue.Post([this, outcome] {
            // A stop belongs to the run it came in; the next run starts free.
            m_port->Clear_Stop();
            m_outcome = outcome;
            m_running.store(false);
        });
    });
    return true;
}

Download_Outcome Update_Runner::Wait() {
    while (m_running.load() && !m_queue.Closed())
        m_queue.Wait_And_Run(std::chrono::milliseconds(100));
    Join();
    return m_outcome;
}

void Update_Runner::Finish_Before_Exit() {
    m_queue.Close();
    Join();
    m_running.store(false);
}

void Update_Runner::Join() {
    if (m_worker.joinable())
        m_worker.join();
}
