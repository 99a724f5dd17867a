// How the window runs the download command: the one place that knows.
//
// Today the command runs to its end inside the Download click, on the window's
// thread; before every read and write the port lets the window handle its
// waiting messages (painting, the timers, a close request).
#pragma once

#include "download/download_command.h"
#include "download/download_view.h"
#include "serial/comport.h"

class Window_Download {
  public:
    // view is the window, called on the window's thread only.
    explicit Window_Download(DownloadView& view);

    // DownloadClick. A click that arrives while the command runs (handled
    // inside a port call) starts nothing.
    void Start();
    bool Running() const { return m_running; }
    // For the window's close: the update is abandoned where it is and the
    // port is closed.
    void Stop_For_Close();

  private:
    CComport m_comport;
    DownloadCommand m_command;
    bool m_running = false;
};
