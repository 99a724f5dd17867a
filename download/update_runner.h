// Update_Runner: the download command on a worker thread, for the windows and
// the command-line tool alike, so that the window never waits on the phone.
//
// The front end gives it its own view, whose every call then runs on the
// front end's thread (the window's thread), in the order the command made
// it, and a wake function that makes that thread call Run_Pending_Calls
// soon. A front end without an event loop of its own calls Wait instead.
//
// Closing while an update runs: Stop_If_Harmless stops it at once unless the
// phone is at risk (its version record being replaced and the transfer not
// ended); then the front end asks the user and, on "yes", calls Stop. Either
// way Finish_Before_Exit lets the worker end (within the port's stop latency)
// without touching the window again.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <thread>

#include "bootloader/comport.h"
#include "download/download_command.h"
#include "download/download_view.h"
#include "download/queued_view.h"
#include "download/view_call_queue.h"

class Update_Runner {
  public:
    // window_view: the front end's view, called on its thread only. port: the
    // phone's port object (the platform's own by default).
    Update_Runner(DownloadView& window_view, std::function<void()> wake,
                  std::unique_ptr<CComport> port = std::make_unique<CComport>());
    // Stops a running update and waits for its worker.
    ~Update_Runner();
    Update_Runner(const Update_Runner&) = delete;
    Update_Runner& operator=(const Update_Runner&) = delete;

    // DownloadClick: starts the command on the worker thread. False when an
    // update runs already (a queued second click). A stop requested before
    // the start stops the run at once; a stop is forgotten when its run ends.
    bool Start();
    // From Start until the last of the command's view calls has run.
    bool Running() const { return m_running.load(); }
    // The front end's thread, when woken.
    void Run_Pending_Calls() { m_queue.Run_Pending(); }
    // The front end's thread, without an event loop: runs the view calls until
    // the update has ended, and returns how it ended.
    Download_Outcome Wait();

    bool Stop_Would_Harm_Phone() const { return m_command.Phase() == Update_Phase::kPhoneAtRisk; }
    bool Stop_If_Harmless() { return m_command.Stop_If_Harmless(); }
    void Stop() { m_command.Stop(); }
    // The front end's thread, when the program is about to end: no further
    // view call runs; waits for the worker to finish.
    void Finish_Before_Exit();

    CComport& Port() { return *m_port; }
    Download_Command& Command() { return m_command; }
    Download_Outcome Last_Outcome() const { return m_outcome; }

  private:
    void Join();

    View_Call_Queue m_queue;
    Queued_View m_queued_view;
    std::unique_ptr<CComport> m_port;
    Download_Command m_command;
    std::thread m_worker;
    std::atomic<bool> m_running{false};
    Download_Outcome m_outcome = Download_Outcome::kImageNotLoaded;
};
