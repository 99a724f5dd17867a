// Window_Download: the command on the window's thread, with the message pump
// in the port.
#include "winapp/run_download.h"

#include "winapp/message_loop.h"

Window_Download::Window_Download(DownloadView& view) : m_command(m_comport, view) {
    m_comport.Set_Message_Pump([] { Dispatch_Pending_Messages(); });
}

void Window_Download::Start() {
    if (m_running)
        return;
    m_running = true;
    m_command.Run();
    m_running = false;
}

void Window_Download::Stop_For_Close() {
    m_comport.Close();
}
