// Command-line parsing: what each command accepts, in any order and in both
// option spellings, that every misuse is caught before anything runs, that
// --help, the manual page and the completion name what the parser takes, and
// how a port named on the command line is opened and shown.
#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <sstream>

#include "cli/arguments.h"
#include "cli/port_name.h"
#include "cli/usage.h"
#include "serial/com_port_listing.h"
#include "tests/support/temp_directory.h"

namespace {

using cli::Command;
using cli::Parse_Arguments;

TEST(Arguments, FlashTakesItsOptionsInAnyOrderAndBothSpellings) {
    const auto parsed = Parse_Arguments(
        {"flash", "--lang=en", "--port", "/dev/ttyACM0", "image.bin", "--trace=t.txt"});
    ASSERT_TRUE(parsed.ok()) << parsed.error;
    const cli::Arguments& args = parsed.arguments;
    EXPECT_EQ(args.command, Command::kFlash);
    EXPECT_EQ(args.image, "image.bin");
    EXPECT_EQ(args.port, "/dev/ttyACM0");
    EXPECT_EQ(args.trace, "t.txt");
    EXPECT_EQ(args.language_flag, Language::kEnglish);

    // Chinese is the default, as in the window.
    const auto plain = Parse_Arguments({"flash", "image.bin"});
    ASSERT_TRUE(plain.ok());
    EXPECT_EQ(plain.arguments.language_flag, Language::kChinese);
    EXPECT_FALSE(plain.arguments.port.has_value());

    // After "--" an image name may start with a dash.
    const auto dashed = Parse_Arguments({"info", "--", "-odd.bin"});
    ASSERT_TRUE(dashed.ok()) << dashed.error;
    EXPECT_EQ(dashed.arguments.image, "-odd.bin");

    // Windows port names reach the port lookup as typed.
    const auto com = Parse_Arguments({"read-version", "--port=\\\\.\\COM12", "--trace", "t"});
    ASSERT_TRUE(com.ok()) << com.error;
    EXPECT_EQ(com.arguments.port, "\\\\.\\COM12");
    EXPECT_EQ(Parse_Arguments({"doctor", "--port", "COM12"}).arguments.port, "COM12");
}

TEST(Arguments, StationTakesManyPortsAndChecksItsNumbers) {
    const auto parsed = Parse_Arguments({"station", "--port", "/dev/ttyACM0", "img.bin",
                                         "--port=COM12", "--json", "--count", "3", "--timeout=2.5",
                                         "--log-dir", "logs", "--lang", "en", "--bell"});
    ASSERT_TRUE(parsed.ok()) << parsed.error;
    const cli::Arguments& args = parsed.arguments;
    EXPECT_EQ(args.command, Command::kStation);
    EXPECT_EQ(args.image, "img.bin");
    EXPECT_EQ(args.ports, (std::vector<std::string>{"/dev/ttyACM0", "COM12"}));
    EXPECT_EQ(args.count, 3);
    EXPECT_DOUBLE_EQ(args.timeout_seconds, 2.5);
    EXPECT_TRUE(args.json);
    EXPECT_TRUE(args.bell);
    EXPECT_EQ(args.log_dir, "logs");
    EXPECT_EQ(args.language_flag, Language::kEnglish);

    const auto phones = Parse_Arguments({"station", "img.bin", "--match", "1D6B:0104", "--slots",
                                         "bench.txt", "--match=0483:*", "--only-slots"});
    ASSERT_TRUE(phones.ok()) << phones.error;
    EXPECT_EQ(phones.arguments.matches, (std::vector<std::string>{"1D6B:0104", "0483:*"}));
    EXPECT_EQ(phones.arguments.slots, "bench.txt");
    EXPECT_TRUE(phones.arguments.only_slots);
    const auto slots = Parse_Arguments({"slots", "--count", "3"});
    ASSERT_TRUE(slots.ok()) << slots.error;
    EXPECT_EQ(slots.arguments.command, Command::kSlots);
    EXPECT_EQ(slots.arguments.count, 3);

    // Without options: every port, no limit, no time-out, no JSON.
    const auto plain = Parse_Arguments({"station", "img.bin"});
    ASSERT_TRUE(plain.ok()) << plain.error;
    EXPECT_TRUE(plain.arguments.ports.empty());
    EXPECT_EQ(plain.arguments.count, 0);
    EXPECT_EQ(plain.arguments.timeout_seconds, 0);
    EXPECT_FALSE(plain.arguments.json);
}

// Two links to one device are one phone's port, and two devices are two
// ports even where their names look alike.
TEST(Arguments, StationTellsPortsByTheirDeviceNotTheirName) {
    const test_support::Temp_Directory links("port-links");
    const std::string link = (links.Path() / "phone").string();
    std::filesystem::create_symlink("/dev/null", link);
    const auto twice =
        Parse_Arguments({"station", "img.bin", "--port", link, "--port", "/dev/null"});
    EXPECT_FALSE(twice.ok());
    EXPECT_NE(twice.error.find("--port names '/dev/null' twice"), std::string::npos) << twice.error;
    const auto two =
        Parse_Arguments({"station", "img.bin", "--port", "/dev/null", "--port", "/dev/zero"});
    EXPECT_TRUE(two.ok()) << two.error;
}

TEST(Arguments, MisuseIsRefusedWithAReasonAndTheCommandKept) {
    struct Case {
        std::vector<std::string> words;
        std::string reason;
    };
    const std::vector<Case> cases = {
        {{}, "no command"},
        {{"erase"}, "unknown command 'erase'"},
        {{"flash"}, "needs an IMAGE"},
        {{"flash", "a.bin", "b.bin"}, "unexpected argument 'b.bin'"},
        {{"flash", "a.bin", "--port"}, "--port needs a value"},
        {{"flash", "a.bin", "--port="}, "--port needs a value"},
        {{"flash", "a.bin", "--lang", "de"}, "--lang takes zh or en"},
        {{"flash", "a.bin", "--baud", "9600"}, "unknown option '--baud'"},
        {{"info", "a.bin", "--trace", "t"}, "info does not take --trace"},
        {{"doctor", "--lang", "en"}, "doctor does not take --lang"},
        {{"ports", "x"}, "unexpected argument 'x'"},
        // One port per flash or read-version: a second --port is no choice of the last.
        {{"flash", "a.bin", "--port", "/dev/ttyACM0", "--port=/dev/ttyACM1"},
         "--port is given twice: flash uses one port; give it once"},
        {{"read-version", "--port=COM3", "--port", "COM4"},
         "--port is given twice: read-version uses one port; give it once"},
        {{"flash", "a.bin", "--trace", "a.txt", "--trace", "b.txt"},
         "--trace is given twice: flash writes one trace; give it once"},
        {{"flash", "a.bin", "--lang", "en", "--lang=zh"},
         "--lang is given twice: flash speaks one language; give it once"},
        {{"doctor", "--port", "a", "--port"}, "--port is given twice: doctor uses one port"},
        // The next option is no value, and after "--" an option is an operand.
        {{"flash", "--port", "--lang", "en", "a.bin"}, "--port needs a value"},
        {{"info", "--", "a.bin", "--port"}, "unexpected argument '--port'"},
        {{"--verbose", "flash", "a.bin"}, "unknown option '--verbose'"},
        {{"flash", "a.bin", "--version"}, "unknown option '--version'"},
        {{"flash", "a.bin", "--help=no"}, "--help takes no value"},
        {{"--version=2"}, "--version takes no value"},
        {{"help", "flash", "x"}, "unexpected argument 'x'"},
        // The station's numbers: whole phones, seconds above zero.
        {{"station", "a.bin", "--count", "0"}, "--count takes a whole number of phones, 1 or more"},
        {{"station", "a.bin", "--count=-2"}, "not '-2'"},
        {{"station", "a.bin", "--count", "2.5"}, "not '2.5'"},
        {{"station", "a.bin", "--count", "99999999999"}, "not '99999999999'"},
        {{"station", "a.bin", "--count", "3x"}, "not '3x'"},
        {{"station", "a.bin", "--timeout", "0"}, "--timeout takes seconds, more than 0"},
        {{"station", "a.bin", "--timeout=-1"}, "not '-1'"},
        {{"station", "a.bin", "--timeout", "nan"}, "not 'nan'"},
        {{"station", "a.bin", "--timeout", "1e999"}, "not '1e999'"},
        {{"station", "a.bin", "--timeout", "5s"}, "not '5s'"},
        {{"station", "a.bin", "--timeout"}, "--timeout needs a value"},
        {{"station", "a.bin", "--count", "2", "--count", "3"},
         "--count is given twice: station ends after one number of phones"},
        {{"station", "a.bin", "--trace-dir", "a", "--trace-dir=b"},
         "--trace-dir is given twice: station writes its traces to one folder"},
        {{"flash", "a.bin", "--trace-dir", "a"}, "flash does not take --trace-dir"},
        {{"station", "a.bin", "--port", "/dev/ttyACM0", "--port=/dev/ttyACM0"},
         "--port names '/dev/ttyACM0' twice"},
        // One device under two names is one port, there or not yet.
        {{"station", "a.bin", "--port", "/dev/null", "--port", "/dev/./null"},
         "--port names '/dev/./null' twice"},
        {{"station", "a.bin", "--port", "/dev/ttyACM7", "--port", "/dev/../dev/ttyACM7"},
         "--port names '/dev/../dev/ttyACM7' twice"},
        {{"station", "a.bin", "--port="}, "--port needs a value"},
        {{"station", "a.bin", "--json=yes"}, "--json takes no value"},
        {{"station", "a.bin", "--trace", "t"}, "station does not take --trace"},
        {{"flash", "a.bin", "--json"}, "flash does not take --json"},
        {{"flash", "a.bin", "--count", "2"}, "flash does not take --count"},
        {{"station"}, "station needs an IMAGE"},
        // Which ports are phones', and the sockets' labels.
        {{"station", "a.bin", "--match", "1d6b"}, "--match takes VID:PID or VID:* in hex"},
        {{"station", "a.bin", "--match=1d6b:0104", "--match", "zz:01"}, "not 'zz:01'"},
        {{"station", "a.bin", "--match", "*:0104"}, "not '*:0104'"},
        {{"station", "a.bin", "--only-slots"}, "--only-slots needs --slots FILE"},
        {{"station", "a.bin", "--slots", "a", "--slots", "b"},
         "--slots is given twice: station reads one slots file"},
        {{"slots", "--json"}, "slots does not take --json"},
        {{"slots", "--count", "0"}, "--count takes a whole number"},
    };
    for (const Case& c : cases) {
        const auto parsed = Parse_Arguments(c.words);
        EXPECT_FALSE(parsed.ok()) << c.reason;
        EXPECT_NE(parsed.error.find(c.reason), std::string::npos) << parsed.error;
    }
    // So that the user is pointed at the right command's help.
    EXPECT_EQ(Parse_Arguments({"flash", "--lang", "de", "a.bin"}).arguments.command,
              Command::kFlash);
}

TEST(Arguments, HelpWinsOverMissingOperands) {
    const auto help = Parse_Arguments({"flash", "--help"});
    ASSERT_TRUE(help.ok()) << help.error;
    EXPECT_TRUE(help.arguments.help);
    EXPECT_EQ(help.arguments.command, Command::kFlash);

    const auto overview = Parse_Arguments({"-h"});
    ASSERT_TRUE(overview.ok());
    EXPECT_TRUE(overview.arguments.help);
    EXPECT_EQ(overview.arguments.command, Command::kNone);

    EXPECT_FALSE(Parse_Arguments({"help", "nonsense"}).ok());
    for (const std::vector<std::string>& words :
         {std::vector<std::string>{"help", "read-version"}, {"--help", "read-version"}}) {
        const auto topic = Parse_Arguments(words);
        ASSERT_TRUE(topic.ok()) << topic.error;
        EXPECT_TRUE(topic.arguments.help);
        EXPECT_EQ(topic.arguments.command, Command::kReadVersion);
    }
    // Whatever follows --version, nothing else runs.
    EXPECT_TRUE(Parse_Arguments({"--version", "flash", "a.bin"}).arguments.version);
}

std::set<std::string> Options_Named_In(const std::string& text) {
    std::set<std::string> options;
    std::size_t at = 0;
    while ((at = text.find("--", at)) != std::string::npos) {
        std::size_t end = at + 2;
        while (end < text.size() &&
               (std::islower(static_cast<unsigned char>(text[end])) ||
                std::isdigit(static_cast<unsigned char>(text[end])) || text[end] == '-'))
            ++end;
        if (end > at + 2)
            options.insert(text.substr(at, end - at));
        at = end;
    }
    return options;
}

std::string Read_File(const char* path) {
    std::ifstream file(path);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

// The manual page's entries: the first line after each ".TP", with troff's
// escaped dashes plain.
std::string Manual_Page_Entries() {
    std::string page = Read_File(FLASHTOOL_MAN_PAGE);
    for (std::size_t at = page.find("\\-"); at != std::string::npos; at = page.find("\\-", at))
        page.erase(at, 1);
    std::string entries;
    for (std::size_t at = page.find(".TP\n"); at != std::string::npos;
         at = page.find(".TP\n", at + 1)) {
        const std::size_t line = at + 4;
        entries += page.substr(line, page.find('\n', line) - line) + " \n";
    }
    return entries;
}

// The overview names the phone model in its second line, whole.
TEST(Arguments, TheOverviewNamesThePhoneModel) {
    const std::string overview = cli::Usage_Text(Command::kNone);
    EXPECT_TRUE(overview.starts_with(
        "Usage: flashtool-cli COMMAND [OPTIONS]\n"
        "Updates the firmware of a Corvel M418 phone over its boot loader's serial port.\n"
        "\nCommands:\n"))
        << overview;
}

// Each command's --help names the options the parser takes for it, and no
// other: an option another command takes is refused as not taken here. The
// manual page has an entry for every command and option, and the bash
// completion offers each command the options its --help names.
TEST(Arguments, HelpManualPageAndCompletionAgreeWithTheParser) {
    const std::vector<Command> commands = {
        Command::kInfo,        Command::kPorts,   Command::kFlash,
        Command::kReadVersion, Command::kDoctor,  Command::kStation,
        Command::kSlots,       Command::kJournal, Command::kSupport};
    std::set<std::string> command_options;
    for (const Command command : commands)
        command_options.merge(Options_Named_In(cli::Usage_Text(command)));
    ASSERT_TRUE(command_options.count("--port"));
    for (const Command command : commands) {
        const std::string name = cli::Command_Name(command);
        const std::set<std::string> shown = Options_Named_In(cli::Usage_Text(command));
        for (const std::string& option : command_options) {
            // --help skips the IMAGE check; a value each option takes.
            const auto parsed =
                Parse_Arguments({name, option, option == "--lang" ? "en" : "1", "--help"});
            if (shown.count(option))
                EXPECT_TRUE(parsed.ok()) << name << " " << option << ": " << parsed.error;
            else
                EXPECT_EQ(parsed.error, name + " does not take " + option);
        }
    }

    const std::string entries = Manual_Page_Entries();
    const std::string completion = Read_File(FLASHTOOL_BASH_COMPLETION);
    std::set<std::string> all = command_options;
    all.merge(Options_Named_In(cli::Usage_Text(Command::kNone)));
    EXPECT_TRUE(all.count("--version"));
    for (const std::string& option : all)
        EXPECT_NE(entries.find(" " + option + " "), std::string::npos) << option << "\n" << entries;
    EXPECT_NE(completion.find("--version"), std::string::npos);
    for (const Command command : commands) {
        const std::string name = cli::Command_Name(command);
        EXPECT_NE(entries.find(" " + name + " "), std::string::npos) << name;
        // Its line in the completion: `flash) options="--port ... --help"`.
        const std::string label = name + ") options=\"";
        const std::size_t line = completion.find(label);
        ASSERT_NE(line, std::string::npos) << name;
        const std::size_t start = line + label.size();
        std::set<std::string> offered =
            Options_Named_In(completion.substr(start, completion.find('"', start) - start));
        EXPECT_EQ(offered.erase("--help"), 1u) << name;
        EXPECT_EQ(offered, Options_Named_In(cli::Usage_Text(command))) << name;
    }
}

}  // namespace

// --port on Windows: both forms a user types name the same port, opened in
// the device namespace and shown as Windows names it; other names are not
// taken for COM ports.
TEST(PortName, ComNamesInEitherFormOpenTheDeviceNamespaceAndShowCOMn) {
    struct Row {
        const char* typed;
        const char* device_path;
        const char* shown;
        std::uint16_t number;
    };
    const Row rows[] = {
        {"COM5", "\\\\.\\COM5", "COM5", 5},
        {"COM12", "\\\\.\\COM12", "COM12", 12},
        {"com12", "\\\\.\\COM12", "COM12", 12},
        {"\\\\.\\COM12", "\\\\.\\COM12", "COM12", 12},
        {"\\\\.\\com256", "\\\\.\\COM256", "COM256", 256},
        {"COM007", "\\\\.\\COM7", "COM7", 7},
        {"COM65535", "\\\\.\\COM65535", "COM65535", 65535},
        {"COM70000", "\\\\.\\COM70000", "COM70000", 0},  // beyond a listed number
    };
    for (const Row& row : rows) {
        const std::optional<Port_Candidate> port = Com_Port_From_Name(row.typed);
        ASSERT_TRUE(port.has_value()) << row.typed;
        EXPECT_EQ(port->device_path, row.device_path) << row.typed;
        EXPECT_EQ(port->display_name, row.shown) << row.typed;
        EXPECT_EQ(port->number, row.number) << row.typed;
    }
    for (const char* other : {"/dev/ttyACM0", "COM", "COMX", "COM1:", "\\\\.\\", "\\\\?\\COM3",
                              "\\\\.\\LPT1", "xCOM1", "COM 1", ""}) {
        EXPECT_FALSE(Com_Port_From_Name(other).has_value()) << other;
    }
}
