// flashtool-station: every Corvel M418 that is plugged in gets updated, many
// at once, each in its own row of a table.
//
//   flashtool-station [--lang zh|en]
#include <QApplication>
#include <QIcon>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "app/chinese_font.h"
#include "app/start_up.h"
#include "app/station/station_window.h"
#include "app/termination_signal.h"
#include "journal/journal_service.h"
#include "journal/journal_store.h"
#include "platform/processes.h"
#include "window_model/system_station.h"
#include "window_model/window_journal.h"

namespace {

// The window's language from the command line; false on anything else.
bool Read_Arguments(int argc, char** argv, Language& language) {
    for (int i = 1; i < argc; ++i) {
        const char* value = nullptr;
        if (std::strcmp(argv[i], "--lang") == 0 && i + 1 < argc)
            value = argv[++i];
        else if (std::strncmp(argv[i], "--lang=", 7) == 0)
            value = argv[i] + 7;
        if (value != nullptr && std::strcmp(value, "en") == 0)
            language = Language::kEnglish;
        else if (value != nullptr && std::strcmp(value, "zh") == 0)
            language = Language::kChinese;
        else
            return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    // Before anything opens a descriptor that could land on a closed stream.
    platform::Fill_Closed_Standard_Streams();
    QApplication application(argc, argv);  // takes Qt's own options out of argv
    Station_Options options;
    if (!Read_Arguments(argc, argv, options.language)) {
        std::fputs("usage: flashtool-station [--lang zh|en]\n", stderr);
        return 2;
    }
    QApplication::setApplicationName(QStringLiteral("flashtool-station"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/flashtool.png")));
    Warn_Once_Without_Chinese_Font(stderr, Chinese_Font_Installed());
    Run_Guarded(
        [&application, &options] {
            // The journal every phone of the window's stations is recorded in
            // (the command-line tool's default file). What keeps it from
            // being used is said now, and goes to the message area too.
            std::vector<std::string> said;
            std::shared_ptr<Journal_Service> journal =
                Journal_Service::Open(Default_Journal_Path(), [&said](const std::string& line) {
                    std::fprintf(stderr, "flashtool-station: %s\n", line.c_str());
                    said.push_back(line);
                });
            std::shared_ptr<Journal_Writer> writer;
            if (journal)
                writer = std::shared_ptr<Journal_Writer>(journal, &journal->Writer());
            Station_Window window(With_Journal(System_Station_Factory(), std::move(writer)),
                                  options);
            for (const std::string& line : said)
                window.Model().Notice(line);
            window.Follow_Journal(std::move(journal));
            const Close_On_Termination_Signal signals_close(window);
            window.show();
            application.exec();
        },
        Show_Error_Box);
    return 0;
}
