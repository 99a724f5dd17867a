// flashtool-cli flash IMAGE: the window's download command, with the image
// given on the command line instead of the file dialog. The steps, their
// messages and their language rules are the shared command's own; it runs on
// the update's worker thread while this thread shows its view. Unless the
// update completed, the output ends with a line of the tool's own that says
// what happened and what to do next (cli/flash_ending.h).
#include <cstdio>
#include <memory>

#include "cli/cli_journal.h"
#include "cli/commands.h"
#include "cli/exit_codes.h"
#include "cli/flash_command.h"
#include "cli/flash_ending.h"
#include "cli/image_file.h"
#include "cli/port_session.h"
#include "cli/suspend_refusal.h"
#include "cli/terminal_view.h"
#include "cli/text_format.h"
#include "download/update_runner.h"
#include "platform/terminal.h"

namespace cli {
namespace {

void Print_Ending(const Ending& ending, Language language) {
    std::fflush(stdout);
    std::fprintf(stderr, "flashtool-cli: %s\n",
                 Displayable_Text(Ending_Text(ending.kind, language, ending.detail)).c_str());
}

}  // namespace

int Run_Flash(const Arguments& args) {
    std::optional<Image_File> checked = Check_Image_File(args.image);
    if (!checked) {
        Print_Ending({Flash_Ending::kImageUnreadable, {}}, args.language_flag);
        return kExitImageNotLoaded;
    }
    const platform::File_Identity image = checked->identity;
    checked.reset();  // the loader opens it again, once, for its header and its data
    auto port = std::make_unique<CComport>();
    Port_Session session(*port);
    if (!session.Prepare(args, image))
        return kExitUsage;
    // Before the phone is touched: --journal-required updates none without its record.
    Journal_Opening journal = Open_Cli_Journal(args, {});
    if (journal.refused)
        return kExitUsage;
    TerminalView view(args.image, args.language_flag, stdout, stderr,
                      platform::Is_Terminal(stderr));
    const int code = Run_Flash_Update(args, session, std::move(port), view, journal.journal.get());
    if (journal.journal)
        journal.journal->Finish();
    return code;
}

int Run_Flash_Update(const Arguments& args, Port_Session& session, std::unique_ptr<CComport> port,
                     TerminalView& view, Cli_Journal* journal) {
    // No event loop here: Wait runs the view's calls on this thread.
    Update_Runner runner(view, {}, std::move(port));
    if (journal != nullptr)
        runner.Command().Add_Observer(journal->Flash_Observer());
    const Download_Outcome outcome = [&] {
        const Suspend_Refusal refusal(
            args.language_flag,
            [](const void* at) noexcept {
                return static_cast<const Update_Runner*>(at)->Stop_Would_Harm_Phone();
            },
            &runner);
        runner.Start();
        return runner.Wait();
    }();
    view.Flush_Fields();
    view.End_Progress_Line();
    const Download_Command& command = runner.Command();
    if (journal != nullptr)
        journal->End_Flash(outcome,
                           {outcome, command.Last_Failure(), command.Phone_Touched(), false, false},
                           command.Dump_Path());

    // The outcome alone decides: a signal that came once the update had ended
    // (after the closing byte) changes nothing of how it went.
    if (outcome == Download_Outcome::kStopped)
        return session.Report_Stop(command.Phone_Touched() ? Flash_Ending::kStoppedPhoneAtRisk
                                                           : Flash_Ending::kStoppedPhoneUnchanged,
                                   args.language_flag);
    if (const std::optional<long long> seconds = view.Elapsed_Seconds()) {
        std::printf("Elapsed time: %s\n", Elapsed_Text(*seconds).c_str());
    }
    const int code = Exit_Code_For(outcome);
    session.Note("exit code " + std::to_string(code));
    session.Finish_Trace();
    if (outcome == Download_Outcome::kUpdated)
        return code;

    Flash_Result result;
    result.outcome = outcome;
    result.phone_touched = command.Phone_Touched();
    result.failure = command.Last_Failure();
    Ending ending = Ending_Of(result);
    if (ending.kind == Flash_Ending::kPhoneNotFound)
        ending = Search_Ending(session.Failed_Search());
    Print_Ending(ending, args.language_flag);
    return code;
}

}  // namespace cli
