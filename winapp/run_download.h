// How the window runs the download command: the one place that knows.
//
// The command runs on the update's worker thread (Update_Runner); its calls on
// the window are queued and run on the window's thread when the worker wakes
// it with a posted message. So the window never waits on the phone, and a
// close request is answered at once.
#pragma once

#include <windows.h>

#include <functional>

#include "bootloader/comport.h"
#include "download/download_view.h"
#include "download/update_runner.h"

class Window_Download {
  public:
    // Posted to the window when the worker has queued calls on it.
    static constexpr UINT kRunPendingCalls = WM_APP + 1;

    // view is the window, called on the window's thread only.
    explicit Window_Download(DownloadView& view);
    // The window that runs the queued calls (kRunPendingCalls).
    void Attach(HWND window) { m_window = window; }

    // DownloadClick. A click that arrives while an update runs starts nothing.
    void Start() { m_runner.Start(); }
    bool Running() const { return m_runner.Running(); }
    void Run_Pending_Calls() { m_runner.Run_Pending_Calls(); }

    // For the window's close: true when it may close now. With no update
    // running, or one that can stop without harm, that is at once (the
    // update is stopped); while the phone's flash is being rewritten,
    // ask_user decides, and a yes stops the update.
    bool May_Close(const std::function<bool()>& ask_user);
    // The program is about to end: the worker finishes (within the port's
    // stop latency) without calling on the window again.
    void Finish_Before_Exit() { m_runner.Finish_Before_Exit(); }
    CComport& Comport() { return m_runner.Port(); }

  private:
    HWND m_window = nullptr;
    Update_Runner m_runner;
    bool m_asking = false;
};
