// Placeholder until the download command lands: loads nothing.
#include "download/download_command.h"

DownloadCommand::DownloadCommand(CComport& port, DownloadView& view) : m_port(port), m_view(view) {}

Download_Outcome DownloadCommand::Run() {
    m_view.Button_Control(false);
    m_view.Button_Control(true);
    return Download_Outcome::kImageNotLoaded;
}
