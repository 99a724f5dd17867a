// flashtool.exe: the firmware update window for the Corvel M418 on Windows.
//
// Start-up: the common controls, the fonts, the journal, the main window
// Form1 (its updates recorded in the journal), then the version window Form2
// (hidden), then the message loop until the program ends. Every close of the main window ends the
// process from its close handler, with exit code 0; the program reads no command line.
#include <windows.h>

#include <commctrl.h>

#include <exception>

#include "winapp/app_journal.h"
#include "winapp/fonts.h"
#include "winapp/form1.h"
#include "winapp/form2.h"
#include "winapp/message_box.h"
#include "winapp/message_loop.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int show) {
    try {
        INITCOMMONCONTROLSEX controls{sizeof controls,
                                      ICC_BAR_CLASSES | ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
        InitCommonControlsEx(&controls);
        const Font_Set fonts;
        // Made before the window and gone after it: the update's thread
        // reports to the journal until the window's runner has ended.
        TForm1* shown = nullptr;
        App_Journal journal([&shown](const std::string& line) {
            if (shown != nullptr)
                shown->Show_Message(line);
        });
        TForm1 form1(instance, fonts);
        shown = &form1;
        journal.Follow_Update(form1.Command());
        journal.Say_Problem();
        TForm2 form2(instance, form1.Handle(), fonts);
        form1.Set_Version_Window(&form2);
        Register_Dialog_Window(form1.Handle());
        Register_Dialog_Window(form2.Handle());
        Route_Menu_Keys_To(form1.Handle());
        ShowWindow(form1.Handle(), show);
        UpdateWindow(form1.Handle());
        Run_Message_Loop();
    } catch (const std::exception& error) {
        Show_Error_Box(error);
    }
    return 0;
}
