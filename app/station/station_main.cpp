// flashtool-station: every Corvel M418 that is plugged in gets updated, many
// at once, each in its own row of a table.
//
//   flashtool-station [--lang zh|en]
#include <QApplication>
#include <QIcon>
#include <cstdio>
#include <cstring>

#include "app/chinese_font.h"
#include "app/start_up.h"
#include "app/station/station_window.h"
#include "app/termination_signal.h"
#include "platform/processes.h"
#include "window_model/system_station.h"

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
            Station_Window window(System_Station_Factory(), options);
            const Close_On_Termination_Signal signals_close(window);
            window.show();
            application.exec();
        },
        Show_Error_Box);
    return 0;
}
