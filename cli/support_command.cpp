// flashtool-cli support: one archive with what support asks for first: the
// doctor's and the ports' text, the version, the journal's last records and
// the failing phone's log, trace and dump. Paths that would name the user
// (the home folder, the user name) are replaced in every text it writes.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "cli/cli_journal.h"
#include "cli/commands.h"
#include "cli/exit_codes.h"
#include "cli/support_files.h"
#include "cli/tar_gz.h"
#include "cli/text_format.h"
#include "journal/journal_store.h"
#include "platform/files.h"
#include "station/utc_text.h"

namespace cli {
namespace {

constexpr std::size_t kJournalRecords = 50;

struct Member {
    std::string name;
    std::string content;
    bool text = true;  // a dump is the phone's bytes, kept as they are
};

bool Name_Character(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
           c == '-' || c == '.';
}

// Each from in text as to; words_only: only where from stands as a word of
// its own (a user "ann" is not taken out of "channel").
std::string Replace_All(std::string text, const std::string& from, const std::string& to,
                        bool words_only = false) {
    for (std::size_t at = text.find(from); at != std::string::npos;) {
        const std::size_t end = at + from.size();
        if (words_only && ((at > 0 && Name_Character(text[at - 1])) ||
                           (end < text.size() && Name_Character(text[end])))) {
            at = text.find(from, at + 1);
            continue;
        }
        text.replace(at, from.size(), to);
        at = text.find(from, at + to.size());
    }
    return text;
}

// The home folder and the user's name as they appear in paths and logs.
struct Private_Names {
    std::string home;
    std::string user;
};

Private_Names Private_Names_Now() {
    Private_Names names;
    if (const char* home = std::getenv("HOME"); home != nullptr) {
        names.home = home;
        while (names.home.size() > 1 && names.home.back() == '/')
            names.home.pop_back();
    }
    // "/" as home would turn every path into "~".
    if (names.home.size() < 2)
        names.home.clear();
    for (const char* variable : {"USER", "LOGNAME", "USERNAME"}) {
        if (const char* user = std::getenv(variable); user != nullptr && *user != '\0') {
            names.user = user;
            break;
        }
    }
    return names;
}

std::string Without_Private(std::string text, const Private_Names& names) {
    if (!names.home.empty())
        text = Replace_All(std::move(text), names.home, "~");
    if (!names.user.empty())
        text = Replace_All(std::move(text), names.user, "USER", true);
    return text;
}

// What a writer of doctor's or ports' kind writes, caught in a file of its own.
template <typename Writer>
std::string Captured(Writer write) {
    std::FILE* file = std::tmpfile();
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

bool Names_Phone(const std::string& path, int phone) {
    return !path.empty() && File_Name(path).rfind(Phone_File_Prefix(phone), 0) == 0;
}

bool Failed(const Journal_Record& record) {
    return record.result != "updated" && record.result != "running" && record.result != "no_phone";
}

struct Journal_Part {
    std::vector<Journal_Record> records;  // the phone's first, then the newest, oldest first
    std::optional<Journal_Record> phone;  // the phone's record, where one was found
    std::string note;                     // why there are none
};

// The journal is read, never made: a missing one stays missing.
Journal_Part Read_Journal(const Arguments& args, int phone) {
    Journal_Part part;
    const std::string path = args.journal ? *args.journal : Default_Journal_Path();
    std::error_code error;
    if (path.empty() || !std::filesystem::exists(path, error)) {
        part.note = "no journal was found";
        return part;
    }
    Journal_Store::Opened opened = Journal_Store::Open(path);
    if (!opened.store) {
        part.note = "the journal could not be read: " + opened.problem;
        return part;
    }
    std::string problem;
    const std::vector<Journal_Record> all = opened.store->List({}, problem);
    if (!problem.empty())
        part.note = "the journal could not be read: " + problem;
    for (auto record = all.rbegin(); record != all.rend() && !part.phone; ++record) {
        const bool named = phone > 0 ? Names_Phone(record->log_file, phone) ||
                                           Names_Phone(record->trace_file, phone)
                                     : args.last && Failed(*record);
        if (named)
            part.phone = *record;
    }
    if (part.phone)
        part.records.push_back(*part.phone);
    const std::size_t first = all.size() > kJournalRecords ? all.size() - kJournalRecords : 0;
    for (std::size_t i = first; i < all.size(); ++i) {
        if (!part.phone || all[i].id != part.phone->id)
            part.records.push_back(all[i]);
    }
    return part;
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

// flashtool-support-20261210T081502Z.tar.gz, in the working folder.
std::string Default_Archive_Name() {
    std::string time = Utc_Text(std::chrono::system_clock::now());
    time = time.substr(0, time.find('.'));
    std::string compact;
    for (const char c : time) {
        if (c != '-' && c != ':')
            compact += c;
    }
    return "flashtool-support-" + compact + "Z.tar.gz";
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

    const Journal_Part journal = Read_Journal(args, phone);
    members.push_back({"journal.csv", Journal_Csv_Text(journal.records)});
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
    Tar_Archive archive;
    for (const Member& member : members) {
        archive.Add(Without_Private(member.name, names),
                    member.text ? Without_Private(member.content, names) : member.content, now);
    }
    if (!dump.empty())
        std::fprintf(stderr,
                     "flashtool-cli: the archive holds the phone's boot-loader dump (%s): the "
                     "phone's own data; send it to support only\n",
                     Displayable_Text(Without_Private(dump, names)).c_str());
    const std::optional<std::string> compressed = Gzip(archive.Bytes());
    if (!compressed || !Write_Archive(out, *compressed)) {
        std::fprintf(stderr, "flashtool-cli: the archive %s could not be written whole\n",
                     Displayable_Text(out).c_str());
        return kExitRecordsIncomplete;
    }
    std::printf("%s\n", Displayable_Text(out).c_str());
    return kExitOk;
}

}  // namespace cli
