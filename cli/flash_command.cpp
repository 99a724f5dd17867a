// flashtool-cli flash IMAGE: the window's download command, with the image
// given on the command line instead of the file dialog. The steps, their
// messages and their language rules are the shared command's own; it runs on
// the update's worker thread while this thread shows its view.
#include <cstdio>
#include <memory>

#include "cli/commands.h"
#include "cli/exit_codes.h"
#include "cli/platform.h"
#include "cli/port_session.h"
#include "cli/terminal_view.h"
#include "cli/text_format.h"
#include "download/update_runner.h"

namespace cli {

int Run_Flash(const Arguments& args) {
    auto port = std::make_unique<CComport>();
    Port_Session session(*port);
    if (!session.Prepare(args))
        return kExitUsage;
    TerminalView view(args.image, args.language_flag, stdout, stderr, Is_Terminal(stderr));
    // No event loop here: Wait runs the view's calls on this thread.
    Update_Runner runner(view, {}, std::move(port));
    runner.Start();
    const Download_Outcome outcome = runner.Wait();
    view.Flush_Fields();
    view.End_Progress_Line();

    if (outcome == Download_Outcome::kStopped || session.Stopped()) {
        return session.Report_Stop(runner.Command().Phone_Touched()
                                       ? "the phone cannot start until it is updated: run flash "
                                         "again."
                                       : "the phone was not changed.");
    }
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
