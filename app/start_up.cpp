// Start-up of flashtool: the application object outlives the windows, so the
// error box can still be shown when building them or the message loop throws.
#include "app/start_up.h"

#include <QApplication>
#include <QIcon>
#include <QMessageBox>
#include <cstdio>
#include <exception>
#include <memory>
#include <optional>

#include "app/chinese_font.h"
#include "app/form1.h"
#include "app/form2.h"
#include "app/termination_signal.h"
#include "download/update_runner.h"
#include "journal/journal_observers.h"
#include "journal/journal_store.h"
#include "platform/shared_file.h"
#include "window_model/layout.h"

namespace {

const QString kApplicationName =
    QString::fromUtf8(layout::kApplicationTitle.data(), layout::kApplicationTitle.size());

// The journal each update of the window is recorded in (the command-line
// tool's default file); none, said once on standard error, when it cannot
// be used.
std::unique_ptr<Journal_Writer> Open_Journal() {
    const std::string path = Default_Journal_Path();
    Journal_Store::Opened opened = Journal_Store::Open(path);
    if (!opened.set_aside.empty())
        std::fprintf(stderr, "flashtool: the journal was damaged; set aside as %s\n",
                     opened.set_aside.c_str());
    if (!opened.store) {
        std::fprintf(stderr, "flashtool: no journal is kept: %s\n",
                     path.empty() ? "no home folder" : opened.problem.c_str());
        return nullptr;
    }
    return std::make_unique<Journal_Writer>(std::move(opened.store), [](const std::string& why) {
        std::fprintf(stderr, "flashtool: %s\n", why.c_str());
    });
}

void Run_Windows(QApplication& application) {
    // Made before the window and gone after it: the update's thread reports
    // to the journal until the window's runner has ended.
    const std::unique_ptr<Journal_Writer> writer = Open_Journal();
    std::optional<Update_Journal> journal;
    TForm1 form1;
    if (writer) {
        Journal_Context context;
        context.machine = platform::Host_Name();
        Download_Command& command = form1.Runner().Command();
        journal.emplace(*writer, context,
                        Update_Journal::Command_Ending{
                            [&command](Download_Outcome outcome) {
                                return Phone_Ending{outcome, command.Last_Failure(),
                                                    command.Phone_Touched(), false, false};
                            },
                            [&command] { return command.Dump_Path(); }});
        command.Add_Observer(&*journal);
    }
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
