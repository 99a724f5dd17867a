// Start-up of flashtool and its shutdown on a termination signal.
#include "app/start_up.h"

#include <QApplication>
#include <QIcon>
#include <QMessageBox>
#include <QSocketNotifier>
#include <exception>

#include "app/form1.h"
#include "app/form2.h"

#include <sys/socket.h>
#include <unistd.h>
#include <csignal>

namespace {

// SIGTERM, SIGINT and SIGHUP are the desktop's and the terminal's way to ask
// the program to close. They become an ordinary close request of the main
// window, so temp.log is written and the port closed as with the close button.
int g_signal_pipe[2] = {-1, -1};

void On_Termination_Signal(int) {
    const char byte = 1;
    [[maybe_unused]] const auto written = ::write(g_signal_pipe[1], &byte, 1);
}

void Close_On_Termination_Signal(TForm1& form1) {
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, g_signal_pipe) != 0)
        return;
    auto* notifier = new QSocketNotifier(g_signal_pipe[0], QSocketNotifier::Read, &form1);
    QObject::connect(notifier, &QSocketNotifier::activated, &form1, [&form1] {
        char byte = 0;
        [[maybe_unused]] const auto got = ::read(g_signal_pipe[0], &byte, 1);
        form1.close();
    });
    struct sigaction action {};
    action.sa_handler = On_Termination_Signal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signal_number : {SIGTERM, SIGINT, SIGHUP}) {
        ::sigaction(signal_number, &action, nullptr);
    }
}

}  // namespace

int Run_Flashtool(int& argc, char** argv) {
    // Made before the try, so that it still exists to show the box when the
    // windows or the message loop throw.
    QApplication application(argc, argv);
    // The name the desktop shows for the program (taskbar, window class);
    // the window keeps its own caption.
    QApplication::setApplicationName(QStringLiteral("Vantrel Tool"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/flashtool.png")));
    try {
        TForm1 form1;
        TForm2 form2;
        form1.Set_Version_Window(&form2);
        Close_On_Termination_Signal(form1);
        form1.show();
        application.exec();
    } catch (const std::exception& error) {
        QMessageBox::critical(nullptr, QStringLiteral("Vantrel Tool"),
                              QString::fromLocal8Bit(error.what()));
    }
    return 0;
}
