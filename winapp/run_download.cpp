// Window_Download: the update's worker, woken into the window's thread by a
// posted message.
#include "winapp/run_download.h"

Window_Download::Window_Download(DownloadView& view)
    : m_runner(view, [this] {
          // On the worker's thread.
          PostMessageW(m_window, kRunPendingCalls, 0, 0);
      }) {}

bool Window_Download::May_Close(const std::function<bool()>& ask_user) {
    if (m_asking)
        return false;  // the question is on screen already
    if (!m_runner.Running() || m_runner.Stop_If_Harmless())
        return true;
    m_asking = true;
    const bool stop = ask_user();
    m_asking = false;
    if (stop)
        m_runner.Stop();
    return stop;
}
