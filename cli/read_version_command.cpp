// flashtool-cli read-version: finds the phone and shows its 32-byte version
// record. Only the record is read; the session is ended as every session is
// (CComport::End_Session): with the closing byte, unless a stop cut the
// record's exchange short.
#include <cstdio>

#include "cli/commands.h"
#include "cli/exit_codes.h"
#include "cli/flash_ending.h"
#include "cli/port_session.h"
#include "cli/text_format.h"
#include "download/download_command.h"

namespace cli {

int Run_Read_Version(const Arguments& args) {
    CComport port;
    Port_Session session(port);
    if (!session.Prepare(args))
        return kExitUsage;
    // No report is attached: the record is printed whole at the end.
    std::fprintf(stderr, "Searching for the phone...\n");
    Port_Candidate found;
    if (!port.Find_Phone(&found)) {
        if (session.Stopped())
            return session.Report_Stop(Flash_Ending::kStoppedReadOnly, Language::kEnglish);
        const Ending why = Search_Ending(session.Failed_Search());
        if (why.kind == Flash_Ending::kPortsNotListed) {
            std::fprintf(stderr, "%s.\n",
                         Port_Listing_Line(port.Last_Listing()).value_or("").c_str());
        } else if (why.kind == Flash_Ending::kPortMissing) {
            std::fprintf(stderr, "%s does not exist.\n", Displayable_Text(why.detail).c_str());
        } else {
            std::fprintf(stderr, "No phone answered on any port.\n");
        }
        for (const std::string& line : Refused_Ports_Lines(port.Refused_Ports()))
            std::fprintf(stderr, "%s\n", Displayable_Text(line).c_str());
        session.Note("exit code 3");
        session.Finish_Trace();
        return kExitPhoneNotFound;
    }
    Version_Record record{};
    const auto result = port.Read_Phone_Version(record);
    port.End_Session();
    // How the read went decides: a signal once the record is in stops nothing.
    if (result == boot::Read_Version_Result::kStopped)
        return session.Report_Stop(Flash_Ending::kStoppedReadOnly, Language::kEnglish);
    if (result != boot::Read_Version_Result::kOk) {
        std::fprintf(stderr, "Reading the version record on %s failed, error %d.\n",
                     Displayable_Text(found.display_name).c_str(), boot::Code(result));
        // A USB port that went away reads as end-of-file: say so, not only the code.
        if (result.end == Io_End::kHungUp)
            std::fprintf(stderr,
                         "The phone was disconnected. Plug it in again with key 1 held "
                         "and run read-version again.\n");
        session.Note("exit code 4");
        session.Finish_Trace();
        return kExitFailedBeforeFlash;
    }
    std::printf("Port: %s\n", Displayable_Text(found.display_name).c_str());
    std::printf("Text: %s\n", Record_Text(record).c_str());
    std::printf("Hex:  %s\n", Hex_Text(record).c_str());
    session.Note("exit code 0");
    session.Finish_Trace();
    return kExitOk;
}

}  // namespace cli
