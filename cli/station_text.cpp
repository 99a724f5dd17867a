// Shared words of the station command's outputs.
#include "cli/station_text.h"

#include <iterator>

#include "cli/text_format.h"
#include "station/station_cells.h"
#include "station/station_words.h"

namespace cli {

const char* Result_Token(Download_Outcome outcome) {
    return Station_Outcome_Name(outcome);  // as the station's own files name it
}

std::string Result_Words(Download_Outcome outcome, Language language) {
    if (language == Language::kEnglish) {
        std::string words = Result_Token(outcome);
        for (char& c : words) {
            if (c == '_')
                c = ' ';
        }
        return words;
    }
    // The window says only "failed"; a command's reader has no row to look
    // at for why, so each failure keeps its own words.
    switch (outcome) {
        case Download_Outcome::kUpdated:
            return std::string(station_text::kUpdated.chinese);
        case Download_Outcome::kStopped:
            return std::string(station_text::kStopped.chinese);
        case Download_Outcome::kImageNotLoaded:
            return "映像檔未載入";
        case Download_Outcome::kPhoneNotFound:
            return "找不到手機";
        case Download_Outcome::kFailedBeforeProgramming:
            return "燒錄前失敗";
        case Download_Outcome::kProgrammingFailed:
            return "燒錄失敗";
        case Download_Outcome::kAlreadyRunning:
            return "已在執行中";
    }
    return std::string(station_text::kFailed.chinese);
}

std::string Code_Words(int code, Language language) {
    return std::string(text::By_Language(language, "code ", "代碼 ")) + std::to_string(code);
}

std::string Phone_Words(int phone, Language language) {
    return std::string(text::By_Language(language, "phone ", "手機 ")) + std::to_string(phone);
}

std::string Rate_Or_Dashes(std::uint64_t bytes, double seconds) {
    const std::string rate = Rate_Cell(bytes, seconds);
    return rate.empty() ? "--" : rate;
}

}  // namespace cli

#include "cli/exit_codes.h"
#include "station/station_rows.h"

namespace cli {

int Station_Exit_Code(const Station_Summary& summary, int stop_signal) {
    if (stop_signal != 0)
        return 128 + stop_signal;
    if (!summary.unwritten.empty())
        return kExitRecordsIncomplete;
    // Ports where no boot loader answered had no phone to finish.
    const Station_Counts counts = Count_Results(summary.phones);
    if (counts.updated + counts.Not_Updated() == 0)
        return kExitNoPhoneFinished;
    return counts.Not_Updated() > 0 ? kExitPhonesNotUpdated : kExitOk;
}

}  // namespace cli

namespace cli {

std::vector<std::string> Record_Lines(const Station_Summary& summary, Language language) {
    const auto listed = [](const std::vector<std::string>& paths) {
        std::string text;
        for (const std::string& path : paths)
            text += (text.empty() ? "" : ", ") + Displayable_Text(path);
        return text;
    };
    std::vector<std::string> lines;
    if (!summary.summary_files.empty()) {
        const std::string files = listed(summary.summary_files);
        lines.emplace_back(text::By_Language(language, "summary in " + files, "摘要:" + files));
    }
    if (!summary.unwritten.empty()) {
        const std::string files = listed(summary.unwritten);
        lines.emplace_back(text::By_Language(
            language, "the records are incomplete: " + files + " could not be written whole",
            "記錄不完整:" + files + " 未能完整寫入"));
    }
    if (summary.records_waiting > 0) {
        const std::string count = std::to_string(summary.records_waiting);
        lines.emplace_back(text::By_Language(
            language,
            count + " journal records wait for the line's server ('flashtool-cli journal sync')",
            count + " 筆記錄等待傳送至產線伺服器('flashtool-cli journal sync')"));
    }
    return lines;
}

}  // namespace cli
