// flashtool-station.exe: every Corvel M418 that is plugged in gets updated,
// many at once, each in its own row of a table; the Win32 window of the
// station, as flashtool-station is its Qt window.
//
//   flashtool-station.exe [--lang zh|en] [--log-folder DIR]
//
// The settings (log folder, slots file, USB numbers) are the user's registry
// values (station_settings.h); --log-folder stands in for the log folder's.
#include <windows.h>

#include <commctrl.h>
#include <shellapi.h>

#include <exception>
#include <string>
#include <vector>

#include "winapp/app_journal.h"
#include "winapp/fonts.h"
#include "winapp/message_box.h"
#include "winapp/message_loop.h"
#include "winapp/station/station_form.h"
#include "winapp/station/station_settings.h"
#include "winapp/wide_text.h"
#include "window_model/system_station.h"

namespace {

struct Arguments {
    Language language = Language::kChinese;
    std::wstring log_folder;
    bool log_folder_given = false;
};

// False on anything it does not know.
bool Read_Arguments(Arguments& arguments) {
    int count = 0;
    LPWSTR* words = CommandLineToArgvW(GetCommandLineW(), &count);
    if (words == nullptr)
        return true;
    bool ok = true;
    for (int i = 1; i < count && ok; ++i) {
        const std::wstring word = words[i];
        std::wstring value;
        const bool has_next = i + 1 < count;
        if (word == L"--lang" && has_next) {
            value = words[++i];
        } else if (word.rfind(L"--lang=", 0) == 0) {
            value = word.substr(7);
        } else if (word == L"--log-folder" && has_next) {
            arguments.log_folder = words[++i];
            arguments.log_folder_given = true;
            continue;
        } else {
            ok = false;
            break;
        }
        if (value == L"en")
            arguments.language = Language::kEnglish;
        else if (value == L"zh")
            arguments.language = Language::kChinese;
        else
            ok = false;
    }
    LocalFree(words);
    return ok;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int show) {
    Arguments arguments;
    if (!Read_Arguments(arguments)) {
        MessageBoxW(nullptr, L"usage: flashtool-station [--lang zh|en] [--log-folder DIR]",
                    L"flashtool-station", MB_OK | MB_ICONERROR);
        return 2;
    }
    try {
        INITCOMMONCONTROLSEX controls{sizeof controls, ICC_LISTVIEW_CLASSES | ICC_STANDARD_CLASSES};
        InitCommonControlsEx(&controls);
        const Font_Set fonts;
        Station_Settings settings = Read_Station_Settings();
        if (arguments.log_folder_given)
            settings.log_folder = arguments.log_folder;
        Station_Options options;
        options.language = arguments.language;
        std::vector<std::wstring> problems;
        Apply_Station_Settings(settings, options, problems);
        TStation_Form* shown = nullptr;
        App_Journal journal([&shown](const std::string& line) {
            if (shown != nullptr)
                shown->Show_Message(line);
        });
        TStation_Form form(instance, fonts, journal.Follow_Stations(System_Station_Factory()),
                           options, settings.log_folder);
        shown = &form;
        journal.Say_Problem();
        for (const std::wstring& problem : problems)
            form.Show_Message(Utf8(problem));
        Register_Dialog_Window(form.Handle());
        ShowWindow(form.Handle(), show);
        UpdateWindow(form.Handle());
        Run_Message_Loop();
    } catch (const std::exception& error) {
        Show_Error_Box(error);
    }
    return 0;
}
