// flashtool-cli: the firmware update from a terminal, over the same core
// library and download command as the window.
#include <cstdio>
#include <string>
#include <vector>

#include "cli/arguments.h"
#include "cli/commands.h"
#include "cli/exit_codes.h"
#include "cli/text_format.h"
#include "cli/usage.h"
#include "platform/processes.h"
#include "platform/stop_signals.h"
#include "platform/terminal.h"
#include "serial/stop_signal.h"

int main(int argc, char** argv) {
    platform::Fill_Closed_Standard_Streams();
    platform::Prepare_Console();
    const std::vector<std::string> words(argv + 1, argv + argc);
    const cli::Parse_Result parsed = cli::Parse_Arguments(words);
    if (!parsed.ok()) {
        const cli::Command command = parsed.arguments.command;
        std::fprintf(stderr, "flashtool-cli: %s\nRun 'flashtool-cli %s%s--help' for usage.\n",
                     cli::Displayable_Text(parsed.error).c_str(), cli::Command_Name(command),
                     command == cli::Command::kNone ? "" : " ");
        return cli::kExitUsage;
    }
    const cli::Arguments& args = parsed.arguments;
    if (args.help) {
        std::fputs(cli::Usage_Text(args.command).c_str(), stdout);
        return cli::kExitOk;
    }
    if (args.version) {
        std::printf("flashtool-cli %s\n", FLASHTOOL_VERSION);
        return cli::kExitOk;
    }
    platform::Install_Stop_Handlers(&Stop_Signal::Request_On);
    switch (args.command) {
        case cli::Command::kInfo:
            return cli::Run_Info(args);
        case cli::Command::kPorts:
            return cli::Run_Ports(args);
        case cli::Command::kFlash:
            return cli::Run_Flash(args);
        case cli::Command::kReadVersion:
            return cli::Run_Read_Version(args);
        case cli::Command::kDoctor:
            return cli::Run_Doctor(args);
        case cli::Command::kStation:
            return cli::Run_Station(args);
        case cli::Command::kSlots:
            return cli::Run_Slots(args);
        case cli::Command::kJournal:
            return cli::Run_Journal(args);
        case cli::Command::kSupport:
            return cli::Run_Support(args);
        case cli::Command::kNone:
            break;
    }
    return cli::kExitUsage;
}
