// Reads the station's folders as they were left, without writing in them.
#include "cli/support_files.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>

namespace cli {
namespace {

// summary.csv's columns (station/station_files.h, kSummaryCsvHeader).
constexpr std::size_t kPhoneColumn = 3;
constexpr std::size_t kResultColumn = 10;

bool Ends_With(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() &&
           text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

int Phone_Number(const std::string& text) {
    if (text.empty() || text.size() > 9 ||
        !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return 0;
    return std::stoi(text);
}

}  // namespace

std::string Phone_File_Prefix(int phone) {
    char number[16] = {};
    std::snprintf(number, sizeof number, "%03d", phone);
    return "phone-" + std::string(number) + "-";
}

std::vector<std::string> Phone_Files(const std::string& directory, int phone,
                                     const std::string& extension) {
    std::vector<std::string> found;
    const std::string prefix = Phone_File_Prefix(phone);
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(directory, error)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind(prefix, 0) == 0 && Ends_With(name, extension) &&
            entry.is_regular_file(error))
            found.push_back(entry.path().string());
    }
    std::sort(found.begin(), found.end());
    return found;
}

int Last_Failing_Phone(const std::string& log_directory) {
    std::ifstream summary(std::filesystem::path(log_directory) / "summary.csv");
    int phone = 0;
    std::string line;
    for (bool header = true; std::getline(summary, line); header = false) {
        const std::vector<std::string> fields = Csv_Fields(line);
        if (header || fields.size() <= kResultColumn)
            continue;
        const std::string& result = fields[kResultColumn];
        if (result != "updated" && result != "no_phone" && Phone_Number(fields[kPhoneColumn]) > 0)
            phone = Phone_Number(fields[kPhoneColumn]);
    }
    if (phone > 0)
        return phone;
    // No summary (the station did not end): the phone of the newest log.
    std::filesystem::file_time_type newest{};
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(log_directory, error)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind("phone-", 0) != 0 || !Ends_With(name, ".log"))
            continue;
        const auto time = entry.last_write_time(error);
        const int number = Phone_Number(name.substr(6, name.find('-', 6) - 6));
        if (!error && number > 0 && (phone == 0 || time > newest)) {
            phone = number;
            newest = time;
        }
    }
    return phone;
}

std::vector<std::string> Csv_Fields(const std::string& line) {
    std::vector<std::string> fields(1);
    bool quoted = false;
    for (std::size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (quoted && c == '"' && i + 1 < line.size() && line[i + 1] == '"') {
            fields.back() += '"';
            ++i;
        } else if (c == '"') {
            quoted = !quoted;
        } else if (c == ',' && !quoted) {
            fields.emplace_back();
        } else if (c != '\r') {
            fields.back() += c;
        }
    }
    return fields;
}

}  // namespace cli
