// Parses the command line with CLI11: the command word first, then its
// operand and options in any order ("--opt value" or "--opt=value"; "--"
// ends options). CLI11 splits the words; the rules and the messages are this
// program's own, applied once it has: every option given at most once and
// with a value, an option of another command named as such, operands
// counted. Each command is one block of declarations in Declare_Commands.
#include "cli/arguments.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <deque>
#include <functional>
#include <optional>
#include <string_view>
#include <utility>

#include "serial/port_list.h"
#include "station/port_filter.h"

namespace cli {
namespace {

struct Command_Word {
    Command command;
    const char* name;
};

constexpr std::array<Command_Word, 9> kCommandWords{{
    {Command::kInfo, "info"},
    {Command::kPorts, "ports"},
    {Command::kFlash, "flash"},
    {Command::kReadVersion, "read-version"},
    {Command::kDoctor, "doctor"},
    {Command::kStation, "station"},
    {Command::kSlots, "slots"},
    {Command::kJournal, "journal"},
    {Command::kSupport, "support"},
}};

std::optional<Command> Find_Command(std::string_view word) {
    for (const Command_Word& entry : kCommandWords) {
        if (word == entry.name)
            return entry.command;
    }
    return std::nullopt;
}

// Why an option is taken once, for the message that refuses a second one:
// a second one would silently win over the first.
constexpr const char* kOnePort = "uses one port";
constexpr const char* kOneTrace = "writes one trace";
constexpr const char* kOneLanguage = "speaks one language";
constexpr const char* kOneCount = "ends after one number of phones";
constexpr const char* kOneTimeout = "waits one time for a phone";
constexpr const char* kOneHandshakeTimeout = "waits one time for a boot loader";
constexpr const char* kOneLogDir = "writes its logs to one folder";
constexpr const char* kOneTraceDir = "writes its traces to one folder";
constexpr const char* kOneSlots = "reads one slots file";
constexpr const char* kOneJournal = "keeps one journal";
constexpr const char* kOneName = "takes one name";
constexpr const char* kOneFilter = "takes one value of each filter";
constexpr const char* kOneServer = "forwards to one server";
constexpr const char* kOneArchive = "writes one archive";
constexpr const char* kOnePhone = "gathers one phone's files";

// The longest --timeout: far beyond any wait, well inside the clock's range.
constexpr double kMaximumTimeoutSeconds = 1e9;

// Takes an option's value into the arguments; returns why the value is
// refused, or nothing.
using Store_Value = std::function<std::string(const std::string& value)>;

Store_Value Into(std::optional<std::string>& target) {
    return [&target](const std::string& value) {
        target = value;
        return std::string();
    };
}

Store_Value Into(Language& target) {
    return [&target](const std::string& value) {
        if (value == "zh")
            target = Language::kChinese;
        else if (value == "en")
            target = Language::kEnglish;
        else
            return "--lang takes zh or en, not '" + value + "'";
        return std::string();
    };
}

// --match of the station, checked once the command line is read (VID:PID).
Store_Value Into(std::vector<std::string>& target) {
    return [&target](const std::string& value) {
        target.push_back(value);
        return std::string();
    };
}

// --port of the station, once for each port: the same port twice is a
// slip, not a second phone.
Store_Value Ports_Into(std::vector<std::string>& target) {
    return [&target](const std::string& value) {
        // Two names of one device (a link, "dir/./ttyACM0", "COM07" for
        // "COM7") are the same port too.
        if (std::any_of(target.begin(), target.end(),
                        [&value](const std::string& named) { return Same_Port(named, value); }))
            return "--port names '" + value + "' twice; name each port once";
        target.push_back(value);
        return std::string();
    };
}

Store_Value Phone_Count_Into(int& target) {
    return [&target](const std::string& value) {
        int count = 0;
        const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), count);
        if (error != std::errc() || end != value.data() + value.size() || count < 1)
            return "--count takes a whole number of phones, 1 or more, not '" + value + "'";
        target = count;
        return std::string();
    };
}

Store_Value Phone_Number_Into(int& target) {
    return [&target](const std::string& value) {
        int number = 0;
        const auto [end, error] =
            std::from_chars(value.data(), value.data() + value.size(), number);
        if (error != std::errc() || end != value.data() + value.size() || number < 1)
            return "--phone takes a phone's number, 1 or more, not '" + value + "'";
        target = number;
        return std::string();
    };
}

Store_Value Seconds_Into(double& target, const std::string& option = "--timeout") {
    return [&target, option](const std::string& value) {
        double seconds = 0;
        const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(),
                                                  seconds, std::chars_format::fixed);
        if (error != std::errc() || end != value.data() + value.size() || !std::isfinite(seconds) ||
            seconds <= 0 || seconds > kMaximumTimeoutSeconds)
            return option + " takes seconds, more than 0 (such as 30 or 2.5), not '" + value + "'";
        target = seconds;
        return std::string();
    };
}

bool Is_Option_Word(const std::string& word) {
    return word.size() >= 2 && word[0] == '-';
}

// "--port=x" names the option "--port".
std::string Option_Name(const std::string& word) {
    return word.substr(0, word.find('='));
}

// Whether a flag was given; a flag given a value ("--help=x") is refused
// rather than read as a yes or no.
std::string Read_Flag(const CLI::Option& flag, const char* name, bool& given) {
    for (const std::string& result : flag.results()) {
        if (result != "true")
            return std::string(name) + " takes no value";
    }
    given = given || flag.count() > 0;
    return {};
}

CLI::Option* Add_Help_Flag(CLI::App& app) {
    return app.add_flag("-h,--help");
}

struct Value_Option {
    std::string name;          // "--port"
    const char* once_because;  // why a second one is refused; null: it may be repeated
    Store_Value store;
    CLI::Option* option;
};

struct Flag_Option {
    std::string name;  // "--json"
    bool* given;
    CLI::Option* option;
};

// One command: its CLI11 subcommand and what it was declared to take.
class Command_Declaration {
  public:
    Command_Declaration(CLI::App& program, const Command_Word& word)
        : m_command(word.command), m_name(word.name), m_app(program.add_subcommand(word.name)) {
        // Misuse is left over by CLI11 and named by Check, in this program's words.
        m_app->allow_extras();
        m_help = Add_Help_Flag(*m_app);
    }

    // A word the command may take ("journal stats"), checked against words.
    Command_Declaration& Word(std::string& word) {
        m_word = m_app->add_option("WORD", word);
        return *this;
    }

    // The journal's options of a command that updates phones.
    Command_Declaration& Journal(Arguments& args) {
        return Once("--journal", kOneJournal, Into(args.journal))
            .Flag("--no-journal", args.no_journal)
            .Flag("--journal-required", args.journal_required)
            .Once("--station-name", kOneName, Into(args.station_name))
            .Once("--operator", kOneName, Into(args.operator_name))
            .Once("--journal-server", kOneServer, Into(args.journal_server));
    }

    // The IMAGE file the command needs.
    Command_Declaration& Image(std::string& image) {
        m_image = m_app->add_option("IMAGE", image);
        return *this;
    }

    // An option with a value, given at most once. Zero values are let
    // through CLI11 so that a missing one is reported in these words.
    Command_Declaration& Once(const char* name, const char* once_because, Store_Value store) {
        CLI::Option* option = m_app->add_option(name)->expected(0, 1)->multi_option_policy(
            CLI::MultiOptionPolicy::TakeAll);
        m_options.push_back({name, once_because, std::move(store), option});
        return *this;
    }
    // An option with a value that may be given again, each value stored in turn.
    Command_Declaration& Repeated(const char* name, Store_Value store) {
        return Once(name, nullptr, std::move(store));
    }
    // An option without a value.
    Command_Declaration& Flag(const char* name, bool& given) {
        m_flags.push_back({name, &given, m_app->add_flag(name)});
        return *this;
    }

    Command command() const { return m_command; }
    bool Chosen() const { return m_app->parsed(); }
    bool Takes(const std::string& option) const {
        return std::any_of(m_options.begin(), m_options.end(),
                           [&](const Value_Option& declared) { return declared.name == option; }) ||
               std::any_of(m_flags.begin(), m_flags.end(),
                           [&](const Flag_Option& declared) { return declared.name == option; });
    }

    // After parsing: stores the values and returns the first misuse, or
    // nothing. `help` (also set by the command's own --help) skips the
    // operand checks only.
    std::string Check(bool& help, const std::function<bool(const std::string&)>& known) const {
        if (std::string refused = Read_Flag(*m_help, "--help", help); !refused.empty())
            return refused;
        bool operands_only = false;
        std::optional<std::string> stray;
        for (const std::string& word : m_app->remaining()) {
            if (!operands_only && word == "--") {
                operands_only = true;
                continue;
            }
            if (!operands_only && Is_Option_Word(word)) {
                const std::string name = Option_Name(word);
                if (known(name))
                    return m_name + " does not take " + name;
                return "unknown option '" + name + "'";
            }
            if (!stray)
                stray = word;
        }
        for (const Value_Option& declared : m_options) {
            const std::vector<std::string>& values = declared.option->results();
            if (values.size() > 1 && declared.once_because != nullptr) {
                return declared.name + " is given twice: " + m_name + " " + declared.once_because +
                       "; give it once";
            }
            for (const std::string& value : values) {
                if (value.empty())
                    return declared.name + " needs a value";
                if (std::string refused = declared.store(value); !refused.empty())
                    return refused;
            }
        }
        for (const Flag_Option& declared : m_flags) {
            if (std::string refused =
                    Read_Flag(*declared.option, declared.name.c_str(), *declared.given);
                !refused.empty())
                return refused;
        }
        if (help)
            return {};
        if (m_image != nullptr && m_image->count() == 0)
            return m_name + " needs an IMAGE file";
        if (stray)
            return "unexpected argument '" + *stray + "'";
        if (m_word != nullptr && m_word->count() > 0) {
            const std::string& word = m_word->results().front();
            if (word != "stats" && word != "sync" && word != "init-server")
                return "unexpected argument '" + word + "'";
        }
        return {};
    }

  private:
    Command m_command;
    std::string m_name;
    CLI::App* m_app;
    CLI::Option* m_help = nullptr;
    CLI::Option* m_image = nullptr;
    CLI::Option* m_word = nullptr;
    std::vector<Value_Option> m_options;
    std::vector<Flag_Option> m_flags;
};

// The whole command line: the program's own flags, "help [COMMAND]" and
// the commands.
class Command_Line {
  public:
    explicit Command_Line(Arguments& args) : m_args(args) {
        // CLI11's help text and exit are not used: the texts are cli/usage.cpp's.
        m_program.set_help_flag();
        m_program.allow_extras();
        m_program.require_subcommand(0, 1);
        m_help = Add_Help_Flag(m_program);
        m_version = m_program.add_flag("--version");
        m_help_command = m_program.add_subcommand("help");
        m_help_command->allow_extras();
        m_help_topic = m_help_command->add_option("COMMAND");
    }

    Command_Declaration& Add(Command command) {
        const auto word = std::find_if(kCommandWords.begin(), kCommandWords.end(),
                                       [&](const Command_Word& w) { return w.command == command; });
        return m_commands.emplace_back(m_program, *word);
    }

    std::string Parse(std::vector<std::string> words) {
        if (words.empty())
            return "no command given";
        // CLI11 takes the words last first.
        std::reverse(words.begin(), words.end());
        try {
            m_program.parse(words);
        } catch (const CLI::ParseError& error) {
            return error.what();
        }
        const Command_Declaration* chosen = nullptr;
        for (const Command_Declaration& declared : m_commands) {
            if (declared.Chosen())
                chosen = &declared;
        }
        if (chosen != nullptr)
            m_args.command = chosen->command();

        // Words before the command, or in place of one.
        const std::vector<std::string> before = m_program.remaining();
        if (!before.empty()) {
            if (Is_Option_Word(before.front()))
                return "unknown option '" + Option_Name(before.front()) + "'";
            return "unknown command '" + before.front() + "'";
        }
        if (std::string refused = Read_Flag(*m_help, "--help", m_args.help); !refused.empty())
            return refused;
        if (std::string refused = Read_Flag(*m_version, "--version", m_args.version);
            !refused.empty())
            return refused;
        if (m_help_command->parsed())
            return Read_Help_Command();
        if (m_args.version)
            return {};  // whatever follows it
        if (chosen == nullptr)
            return m_args.help ? std::string() : "no command given";
        return chosen->Check(m_args.help, [this](const std::string& option) {
            return std::any_of(m_commands.begin(), m_commands.end(),
                               [&](const Command_Declaration& c) { return c.Takes(option); });
        });
    }

  private:
    // "help" alone shows the overview, "help flash" the usage of flash.
    std::string Read_Help_Command() {
        m_args.help = true;
        if (m_help_topic->count() > 0) {
            const std::string& topic = m_help_topic->results().front();
            const std::optional<Command> command = Find_Command(topic);
            if (!command)
                return "unknown command '" + topic + "'";
            m_args.command = *command;
        }
        if (const std::vector<std::string> rest = m_help_command->remaining(); !rest.empty())
            return "unexpected argument '" + rest.front() + "'";
        return {};
    }

    Arguments& m_args;
    CLI::App m_program{"flashtool-cli"};
    CLI::Option* m_help = nullptr;
    CLI::Option* m_version = nullptr;
    CLI::App* m_help_command = nullptr;
    CLI::Option* m_help_topic = nullptr;
    std::deque<Command_Declaration> m_commands;  // stays put as commands are added
};

// What each command takes: one block a command.
void Declare_Commands(Command_Line& line, Arguments& args) {
    line.Add(Command::kInfo).Image(args.image);
    line.Add(Command::kPorts);
    line.Add(Command::kFlash)
        .Image(args.image)
        .Once("--port", kOnePort, Into(args.port))
        .Once("--lang", kOneLanguage, Into(args.language_flag))
        .Once("--trace", kOneTrace, Into(args.trace))
        .Journal(args);
    line.Add(Command::kReadVersion)
        .Once("--port", kOnePort, Into(args.port))
        .Once("--trace", kOneTrace, Into(args.trace));
    line.Add(Command::kDoctor).Once("--port", kOnePort, Into(args.port));
    line.Add(Command::kStation)
        .Image(args.image)
        .Repeated("--port", Ports_Into(args.ports))
        .Once("--count", kOneCount, Phone_Count_Into(args.count))
        .Once("--timeout", kOneTimeout, Seconds_Into(args.timeout_seconds))
        .Once("--handshake-timeout", kOneHandshakeTimeout,
              Seconds_Into(args.handshake_seconds, "--handshake-timeout"))
        .Flag("--json", args.json)
        .Once("--log-dir", kOneLogDir, Into(args.log_dir))
        .Once("--trace-dir", kOneTraceDir, Into(args.trace_dir))
        .Repeated("--match", Into(args.matches))
        .Once("--slots", kOneSlots, Into(args.slots))
        .Flag("--only-slots", args.only_slots)
        .Flag("--bell", args.bell)
        .Once("--lang", kOneLanguage, Into(args.language_flag))
        .Journal(args);
    line.Add(Command::kSlots).Once("--count", kOneCount, Phone_Count_Into(args.count));
    line.Add(Command::kJournal)
        .Word(args.journal_view)
        .Once("--journal", kOneJournal, Into(args.journal))
        .Once("--journal-server", kOneServer, Into(args.journal_server))
        .Once("--since", kOneFilter, Into(args.since))
        .Once("--until", kOneFilter, Into(args.until))
        .Once("--result", kOneFilter, Into(args.result))
        .Once("--slot", kOneFilter, Into(args.slot))
        .Once("--serial", kOneFilter, Into(args.serial))
        .Once("--image-sha256", kOneFilter, Into(args.image_sha256))
        .Flag("--json", args.json)
        .Flag("--csv", args.csv);
    line.Add(Command::kSupport)
        .Once("--out", kOneArchive, Into(args.out))
        .Once("--phone", kOnePhone, Phone_Number_Into(args.phone))
        .Flag("--last", args.last)
        .Once("--log-dir", kOneLogDir, Into(args.log_dir))
        .Once("--trace-dir", kOneTraceDir, Into(args.trace_dir))
        .Once("--journal", kOneJournal, Into(args.journal));
}

}  // namespace

const char* Command_Name(Command command) {
    for (const Command_Word& entry : kCommandWords) {
        if (entry.command == command)
            return entry.name;
    }
    return "";
}

Parse_Result Parse_Arguments(const std::vector<std::string>& words) {
    Parse_Result result;
    Command_Line line(result.arguments);
    Declare_Commands(line, result.arguments);
    result.error = line.Parse(words);
    // What the station's options say together, unless only its help is asked for.
    const Arguments& args = result.arguments;
    if (!result.ok() || args.help)
        return result;
    for (const std::string& match : args.matches) {
        if (!Parse_Usb_Match(match)) {
            result.error =
                "--match takes VID:PID or VID:* in hex (such as 1d6b:0104), not '" + match + "'";
            return result;
        }
    }
    if (args.only_slots && !args.slots)
        result.error = "--only-slots needs --slots FILE";
    else if (args.no_journal && (args.journal || args.journal_required))
        result.error = std::string("--no-journal cannot go with ") +
                       (args.journal ? "--journal" : "--journal-required");
    else if (args.phone > 0 && args.last)
        result.error = "--phone cannot go with --last; choose one";
    else if (args.json && args.csv)
        result.error = "--json cannot go with --csv; choose one";
    return result;
}

}  // namespace cli
