// flashtool-cli support: one archive with what support asks for first: the
// doctor's and the ports' text, the version, the journal's last records and
// the failing phone's log, trace and dump. Paths that would name the user
// (the home folder, the user name) are replaced in every text it writes.
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli/exit_codes.h"
#include "cli/private_names.h"
#include "cli/support_archive.h"
#include "cli/support_files.h"
#include "cli/support_journal.h"
#include "cli/text_format.h"
#include "platform/files.h"
#include "station/utc_text.h"

namespace cli {
namespace {

struct Member {
    std::string name;
    std::string content;
    bool text = true;  // a dump is the phone's bytes, kept as they are
};

// What a writer of doctor's or ports' kind writes, caught in a file of its own.
template <typename Writer>
std::string Captured(Writer write) {
    std::FILE* file = platform::Temporary_File();
    if (file == nullptr)
        return "(the text could not be caught: no temporary file)\n";
    write(file);
    std::string text;
    std::rewind(file);
    char buffer[4096];
    for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, file)) > 0;)
        text.append(buffer, got);
    std::fclose(file);
    return text;
}

std::optional<std::string> Read_Whole(const std::string& path) {
    const File_Handle file = platform::Open_Regular_File(path);
    if (!file)
        return std::nullopt;
    std::string content;
    char buffer[65536];
    for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, file.get())) > 0;)
        content.append(buffer, got);
    return content;
}

std::string File_Name(const std::string& path) {
    return std::filesystem::path(path).filename().string();
}

// Adds the file at path as folder/NAME, once; false when it cannot be read.
bool Add_File(std::vector<Member>& members, const std::string& folder, const std::string& path,
              bool text = true) {
    const std::string name = folder + "/" + File_Name(path);
    for (const Member& member : members) {
        if (member.name == name)
            return true;
    }
    std::optional<std::string> content = Read_Whole(path);
    if (!content)
        return false;
    members.push_back({name, std::move(*content), text});
    return true;
}

std::string Version_Text() {
    std::string text = "flashtool-cli " FLASHTOOL_VERSION "\n";
#if defined(__clang__)
    text += "built with clang " __clang_version__ "\n";
#elif defined(__GNUC__)
    text += "built with g++ " __VERSION__ "\n";
#endif
    text += sizeof(void*) == 8 ? "64-bit\n" : "32-bit\n";
    return text;
}

std::string Readme_Text(const std::vector<Member>& members, const std::string& phone,
                        const std::string& note) {
    std::string text =
        "flashtool-cli support archive\n"
        "\n"
        "What a support person needs to see why a phone was not updated:\n"
        "  README.txt   this text\n"
        "  version.txt  the program's version and build\n"
        "  doctor.txt   'flashtool-cli doctor': each port and why it can or cannot be used\n"
        "  ports.txt    'flashtool-cli ports': the ports and the devices behind them\n"
        "  journal.csv  the journal's last records (the phone's own first)\n"
        "  logs/        the phone's station logs\n"
        "  traces/      the phone's traces: every byte on its port\n"
        "  dump/        the phone's boot-loader dump, where the journal names one\n"
        "\n";
    text += "Phone: " + phone + "\n";
    if (!note.empty())
        text += "Journal: " + note + "\n";
    text += "\nFiles:\n";
    for (const Member& member : members)
        text += "  " + member.name + "\n";
    text +=
        "\n"
        "Private paths were replaced: the home folder by \"~\" and the user name by\n"
        "\"USER\", in every text file here (not in the dump, which is the phone's bytes).\n";
    return text;
}

// flashtool-support-20261210T081502Z.tar.gz (.zip on Windows), in the
// working folder.
std::string Default_Archive_Name() {
    std::string time = Utc_Text(std::chrono::system_clock::now());
    time = time.substr(0, time.find('.'));
    std::string compact;
    for (const char c : time) {
        if (c != '-' && c != ':')
            compact += c;
    }
    return "flashtool-support-" + compact + "Z" + Support_Archive_Extension();
}

bool Write_Archive(const std::string& path, const std::string& bytes) {
    std::FILE* file = platform::Create_New_File(path);
    if (file == nullptr)
        return false;
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size() &&
                         std::fflush(file) == 0 && !std::ferror(file);
    const bool closed = std::fclose(file) == 0;
    if (written && closed)
        return true;
    std::error_code error;
    std::filesystem::remove(path, error);  // half an archive is no archive
    return false;
}

}  // namespace

int Run_Support(const Arguments& args) {
    const std::string out = args.out ? *args.out : Default_Archive_Name();
    std::error_code error;
    if (std::filesystem::symlink_status(out, error).type() !=
        std::filesystem::file_type::not_found) {
        std::fprintf(stderr,
                     "flashtool-cli: %s is there already; support writes a new file only: name "
                     "another with --out FILE\n",
                     Displayable_Text(out).c_str());
        return kExitUsage;
    }
    int phone = args.phone;
    if (args.last && args.log_dir)
        phone = Last_Failing_Phone(*args.log_dir);

    std::vector<Member> members;
    members.push_back({"version.txt", Version_Text()});
    members.push_back({"doctor.txt", Captured([](std::FILE* file) { Write_Doctor({}, file); })});
    members.push_back({"ports.txt", Captured([](std::FILE* file) { Write_Ports(file, file); })});

    const Support_Journal journal = Read_Support_Journal(args, phone);
    if (journal.csv)
        members.push_back({"journal.csv", *journal.csv});
    if (phone > 0 && args.log_dir) {
        for (const std::string& path : Phone_Files(*args.log_dir, phone, ".log"))
            Add_File(members, "logs", path);
    }
    if (phone > 0 && args.trace_dir) {
        for (const std::string& path : Phone_Files(*args.trace_dir, phone, ".trace"))
            Add_File(members, "traces", path);
    }
    std::string dump;
    if (journal.phone) {
        if (!journal.phone->log_file.empty())
            Add_File(members, "logs", journal.phone->log_file);
        if (!journal.phone->trace_file.empty())
            Add_File(members, "traces", journal.phone->trace_file);
        if (!journal.phone->dump_file.empty() &&
            Add_File(members, "dump", journal.phone->dump_file, false))
            dump = journal.phone->dump_file;
    }

    if (args.last && phone == 0 && !journal.phone)
        std::fprintf(stderr,
                     "flashtool-cli: no phone that failed was found; the archive holds no "
                     "phone's files\n");
    const Private_Names names = Private_Names_Now();
    const std::string phone_text = phone > 0       ? std::to_string(phone)
                                   : journal.phone ? "the journal's newest failed record"
                                                   : "none named";
    members.insert(members.begin(), {"README.txt", Readme_Text(members, phone_text, journal.note)});
    const std::int64_t now = std::chrono::duration_cast<std::chrono::seconds>(
                                 std::chrono::system_clock::now().time_since_epoch())
                                 .count();
    const std::unique_ptr<Support_Archive> archive = Make_Support_Archive();
    std::string problem;
    bool whole = true;
    for (const Member& member : members) {
        whole = whole &&
                archive->Add(Without_Private(member.name, names),
                             member.text ? Without_Private(member.content, names) : member.content,
                             now, problem);
    }
    if (whole && !dump.empty())
        std::fprintf(stderr,
                     "flashtool-cli: the archive holds the phone's boot-loader dump (%s): the "
                     "phone's own data; send it to support only\n",
                     Displayable_Text(Without_Private(dump, names)).c_str());
    const std::optional<std::string> bytes =
        whole ? archive->Bytes(problem) : std::optional<std::string>();
    if (!bytes || !Write_Archive(out, *bytes)) {
        if (!problem.empty())
            std::fprintf(stderr, "flashtool-cli: %s\n", Displayable_Text(problem).c_str());
        std::fprintf(stderr, "flashtool-cli: the archive %s could not be written whole\n",
                     Displayable_Text(out).c_str());
        return kExitRecordsIncomplete;
    }
    std::printf("%s\n", Displayable_Text(out).c_str());
    return kExitOk;
}

}  // namespace cli
