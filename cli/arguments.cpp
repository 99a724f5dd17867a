// Parses the command line: the command word first, then its operands and
// options in any order ("--opt value" or "--opt=value"; "--" ends options),
// each option at most once.
#include "cli/arguments.h"

#include <algorithm>
#include <array>
#include <string_view>

namespace cli {
namespace {

struct Command_Rules {
    Command command;
    const char* name;
    bool takes_image;
    bool takes_port;
    bool takes_lang;
    bool takes_trace;
};

constexpr std::array<Command_Rules, 5> kCommands{{
    {Command::kInfo, "info", true, false, false, false},
    {Command::kPorts, "ports", false, false, false, false},
    {Command::kFlash, "flash", true, true, true, true},
    {Command::kReadVersion, "read-version", false, true, false, true},
    {Command::kDoctor, "doctor", false, true, false, false},
}};

const Command_Rules* Find_Command(std::string_view word) {
    for (const Command_Rules& rules : kCommands) {
        if (word == rules.name)
            return &rules;
    }
    return nullptr;
}

// Why an option is taken once, for the message that refuses a second one.
std::string_view Taken_Once(std::string_view option) {
    if (option == "--port")
        return "uses one port";
    if (option == "--trace")
        return "writes one trace";
    return "speaks one language";
}

Parse_Result Fail(std::string message, Command command = Command::kNone) {
    Parse_Result result;
    result.arguments.command = command;
    result.error = std::move(message);
    return result;
}

}  // namespace

const char* Command_Name(Command command) {
    for (const Command_Rules& rules : kCommands) {
        if (rules.command == command)
            return rules.name;
    }
    return "";
}

Parse_Result Parse_Arguments(const std::vector<std::string>& words) {
    Parse_Result result;
    Arguments& args = result.arguments;
    if (words.empty())
        return Fail("no command given");

    std::size_t next = 0;
    const std::string& first = words[0];
    if (first == "--help" || first == "-h" || first == "help") {
        args.help = true;
        // "help flash" shows the usage of flash.
        if (words.size() > 1) {
            const Command_Rules* rules = Find_Command(words[1]);
            if (rules == nullptr)
                return Fail("unknown command '" + words[1] + "'");
            args.command = rules->command;
        }
        return result;
    }
    if (first == "--version") {
        args.version = true;
        return result;
    }
    const Command_Rules* rules = Find_Command(first);
    if (rules == nullptr)
        return Fail("unknown command '" + first + "'");
    args.command = rules->command;
    next = 1;

    std::vector<std::string> operands;
    std::vector<std::string> given;  // the options seen so far
    bool options_ended = false;
    for (std::size_t i = next; i < words.size(); ++i) {
        const std::string& word = words[i];
        if (options_ended || word.size() < 2 || word[0] != '-') {
            operands.push_back(word);
            continue;
        }
        if (word == "--") {
            options_ended = true;
            continue;
        }
        if (word == "--help" || word == "-h") {
            args.help = true;
            continue;
        }
        std::string name = word;
        std::optional<std::string> value;
        if (const std::size_t equals = word.find('='); equals != std::string::npos) {
            name = word.substr(0, equals);
            value = word.substr(equals + 1);
        }
        const bool known = name == "--port" || name == "--lang" || name == "--trace";
        const bool allowed = (name == "--port" && rules->takes_port) ||
                             (name == "--lang" && rules->takes_lang) ||
                             (name == "--trace" && rules->takes_trace);
        if (!known)
            return Fail("unknown option '" + name + "'", rules->command);
        if (!allowed)
            return Fail(std::string(rules->name) + " does not take " + name, rules->command);
        // A second one would silently win over the first.
        if (std::find(given.begin(), given.end(), name) != given.end()) {
            return Fail(name + " is given twice: " + rules->name + " " +
                            std::string(Taken_Once(name)) + "; give it once",
                        rules->command);
        }
        given.push_back(name);
        if (!value) {
            if (i + 1 >= words.size())
                return Fail(name + " needs a value", rules->command);
            value = words[++i];
        }
        if (value->empty())
            return Fail(name + " needs a value", rules->command);
        if (name == "--port") {
            args.port = *value;
        } else if (name == "--trace") {
            args.trace = *value;
        } else if (*value == "zh") {
            args.language_flag = Language::kChinese;
        } else if (*value == "en") {
            args.language_flag = Language::kEnglish;
        } else {
            return Fail("--lang takes zh or en, not '" + *value + "'", rules->command);
        }
    }
    if (args.help)
        return result;

    if (rules->takes_image) {
        if (operands.empty())
            return Fail(std::string(rules->name) + " needs an IMAGE file", rules->command);
        args.image = operands[0];
        operands.erase(operands.begin());
    }
    if (!operands.empty())
        return Fail("unexpected argument '" + operands[0] + "'", rules->command);
    return result;
}

}  // namespace cli
