// Start-up of flashtool: the application object outlives the windows, so the
// error box can still be shown when building them or the message loop throws.
#include "app/start_up.h"

#include <QApplication>
#include <QIcon>
#include <QMessageBox>
#include <cstdio>
#include <exception>
#include <memory>

#include "app/chinese_font.h"
#include "app/form1.h"
#include "app/form2.h"
#include "app/termination_signal.h"
#include "download/update_runner.h"
#include "journal/journal_service.h"
#include "journal/journal_store.h"
#include "window_model/layout.h"
#include "window_model/window_journal.h"

namespace {

const QString kApplicationName =
    QString::fromUtf8(layout::kApplicationTitle.data(), layout::kApplicationTitle.size());

void Run_Windows(QApplication& application) {
    // The journal each update of the window is recorded in (the command-line
    // tool's default file); none, said once on standard error, when it
    // cannot be used. Made before the window and gone after it: the update's
    // thread reports to it until the window's runner has ended.
    const auto say = [](const std::string& line) {
        std::fprintf(stderr, "flashtool: %s\n", line.c_str());
    };
    const std::unique_ptr<Journal_Service> service =
        Journal_Service::Open(Default_Journal_Path(), say);
    if (service)
        service->Say_To(say);
    Journal_Writer* const writer = service ? &service->Writer() : nullptr;
    TForm1 form1;
    const std::unique_ptr<Update_Journal> journal =
        writer != nullptr ? Journal_Window_Update(*writer, form1.Runner().Command()) : nullptr;
    TForm2 form2;
    form1.Set_Version_Window(&form2);
    // Ctrl-Z in the terminal that started the window waits while the phone
    // is being rewritten.
    const Close_On_Termination_Signal signals_close(
        form1,
        [](const void* runner) noexcept {
            return static_cast<const Update_Runner*>(runner)->Stop_Would_Harm_Phone();
        },
        &form1.Runner());
    form1.show();
    application.exec();
}

}  // namespace

void Run_Guarded(const std::function<void()>& windows, const Error_Box_Function& show_error) {
    try {
        windows();
    } catch (const std::exception& error) {
        show_error(QString::fromLocal8Bit(error.what()));
    } catch (...) {
        show_error(QStringLiteral("Unknown exception."));
    }
}

void Show_Error_Box(const QString& text) {
    QMessageBox::critical(nullptr, kApplicationName, text);
}

int Run_Flashtool(int& argc, char** argv) {
    QApplication application(argc, argv);
    // The name the desktop shows for the program (taskbar, window class);
    // the window keeps its own caption.
    QApplication::setApplicationName(kApplicationName);
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/flashtool.png")));
    Warn_Once_Without_Chinese_Font(stderr, Chinese_Font_Installed());
    Run_Guarded([&application] { Run_Windows(application); }, Show_Error_Box);
    return 0;
}
