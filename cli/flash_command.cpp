// flashtool-cli flash IMAGE: the window's download command, with the image
// given on the command line instead of the file dialog. The steps, their
// messages and their language rules are the shared command's own.
#include <cstdio>

#include "cli/commands.h"
#include "cli/exit_codes.h"
#include "cli/platform.h"
#include "cli/port_session.h"
#include "cli/terminal_view.h"
#include "cli/text_format.h"
#include "download/download_command.h"

namespace cli {

int Run_Flash(const Arguments& args) {
    Port_Session session;
    if (!session.Prepare(args))
        return kExitUsage;
    TerminalView view(args.image, args.language_flag, stdout, stderr, Is_Terminal(stderr));
    session.On_Interrupt([&view] {
        view.End_Progress_Line();
        std::fprintf(stderr,
                     "flashtool-cli: stopped by Ctrl-C; the phone may not be completely "
                     "updated, run flash again.\n");
    });
    // The command points the port's progress bar and notices at the view.
    DownloadCommand command(session.Port(), view);
    const Download_Outcome outcome = command.Run();
    session.Stop_If_Interrupted();
    view.Flush_Fields();
    view.End_Progress_Line();

    if (const std::optional<long long> seconds = view.Elapsed_Seconds()) {
        std::printf("Elapsed time: %s\n", Elapsed_Text(*seconds).c_str());
    }
    const int code = Exit_Code_For(outcome);
    session.Note("exit code " + std::to_string(code));
    if (outcome == Download_Outcome::kPhoneNotFound) {
        std::fprintf(stderr,
                     "flashtool-cli: run 'flashtool-cli doctor%s' to see why each port "
                     "can or cannot be used.\n",
                     args.port ? (" --port " + *args.port).c_str() : "");
    }
    return code;
}

}  // namespace cli
