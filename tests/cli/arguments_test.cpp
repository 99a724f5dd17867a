// Command-line parsing: what each command accepts, in any order and in both
// option spellings, that every misuse is caught before anything runs, and
// how a port named on the command line is opened and shown.
#include <gtest/gtest.h>

#include "cli/arguments.h"
#include "cli/port_name.h"

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
        const std::optional<Port_Candidate> port = cli::Com_Port_From_Name(row.typed);
        ASSERT_TRUE(port.has_value()) << row.typed;
        EXPECT_EQ(port->device_path, row.device_path) << row.typed;
        EXPECT_EQ(port->display_name, row.shown) << row.typed;
        EXPECT_EQ(port->number, row.number) << row.typed;
    }
    for (const char* other : {"/dev/ttyACM0", "COM", "COMX", "COM1:", "\\\\.\\", "\\\\?\\COM3",
                              "\\\\.\\LPT1", "xCOM1", "COM 1", ""}) {
        EXPECT_FALSE(cli::Com_Port_From_Name(other).has_value()) << other;
    }
}
