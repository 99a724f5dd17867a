// The notices' texts: the words of texts.h joined with each notice's
// arguments, as the message area has always shown them.
#include "download/notice_texts.h"

#include <cstdio>
#include <ctime>

#include "bootloader/results.h"
#include "download/display_text.h"
#include "platform/local_time.h"
#include "serial/port_list.h"

namespace text {

namespace {

using report::Notice;

Bilingual Same(std::string line) {
    return {line, line};
}

Bilingual Pair(std::string_view english, std::string_view chinese, const std::string& tail = {}) {
    return {std::string(english) + tail, std::string(chinese) + tail};
}

std::string Text_Arg(const report::Notice_Event& notice, std::size_t index) {
    return index < notice.texts.size() ? Displayable_Text(notice.texts[index]) : std::string();
}

std::int64_t Number_Arg(const report::Notice_Event& notice, std::size_t index) {
    return index < notice.numbers.size() ? notice.numbers[index] : 0;
}

std::string With_Code(std::string_view words, const report::Notice_Event& notice) {
    return std::string(words) + std::to_string(Number_Arg(notice, 0));
}

std::string Range_Text(std::int64_t start, std::int64_t end) {
    char text[32];
    std::snprintf(text, sizeof text, "0x%08X-0x%08X", static_cast<unsigned>(start),
                  static_cast<unsigned>(end));
    return text;
}

// "Download start at: Mon Dec 07 23:59:19 2026\n." - the time text keeps its
// line feed, so the full stop opens the next line.
std::string Time_Line_Tail(std::chrono::system_clock::time_point time) {
    return Time_Text(platform::Local_Time(std::chrono::system_clock::to_time_t(time))) + '.';
}

// "No permission to open /dev/ttyACM0, /dev/ttyACM1: add your user to the
// group dialout (sudo usermod -aG dialout $USER), then log in again".
std::string No_Permission_Line(const report::Notice_Event& notice) {
    std::string line(kPortsRefused);
    const std::size_t ports = notice.texts.empty() ? 0 : notice.texts.size() - 1;
    for (std::size_t i = 0; i < ports; ++i) {
        if (i != 0)
            line += ", ";
        line += Text_Arg(notice, i);
    }
    const std::string group = Text_Arg(notice, ports);
    line += kPortsRefusedGroup;
    line += group;
    line += kPortsRefusedCommand;
    line += group;
    line += kPortsRefusedLogin;
    return line;
}

// "/dev/ttyACM0 is in use by minicom (pid 4242); close it and try again".
std::string In_Use_Line(const report::Notice_Event& notice) {
    std::string line = Text_Arg(notice, 0) + std::string(kPortInUse);
    for (std::size_t i = 1; i < notice.texts.size(); ++i)
        line += (i == 1 ? "" : ", ") + Text_Arg(notice, i);
    if (notice.texts.size() < 2)
        line += kPortInUseByUnknown;
    return line + std::string(kPortInUseFix);
}

std::string Listing_Line(const report::Notice_Event& notice) {
    const std::int64_t code = Number_Arg(notice, 0);
    std::string_view why = kPortListBroken;
    if (code == ::kPortListMapUnreadable)
        why = kPortListUnreadable;
    else if (code == ::kPortListTooMany)
        why = kPortListTooMany;
    return std::string(kPortListFailed) + std::string(why) + std::string(kPortListCode) +
           std::to_string(code) + ")";
}

}  // namespace

Bilingual Notice_Text(const report::Notice_Event& notice) {
    switch (notice.id) {
        case Notice::kFirstRun:
            return Same(std::string(notice::kFirstRun));
        case Notice::kVersionMismatch:
            return Same(std::string(notice::kVersionMismatch));
        case Notice::kLanguageMismatch:
            return Same(std::string(notice::kLanguageMismatch));
        case Notice::kPhoneNewer:
            return Same(std::string(notice::kPhoneNewer));
        case Notice::kSameVersion:
            return Same(std::string(notice::kSameVersion));
        case Notice::kSearching:
            return Same(std::string(kSearching));
        case Notice::kPleaseWait:
            return Same(std::string(kPleaseWait));
        case Notice::kNotFound:
            return Pair(kNotFoundEn, kNotFoundZh);
        case Notice::kPortListFailed:
            return Same(Listing_Line(notice));
        case Notice::kPortsNoPermission:
            return Same(No_Permission_Line(notice));
        case Notice::kPortInUse:
            return Same(In_Use_Line(notice));
        case Notice::kNotASerialPort:
            return Same(Text_Arg(notice, 0) + std::string(kNotASerialPort));
        case Notice::kOwnTerminal:
            return Same(Text_Arg(notice, 0) + std::string(kOwnTerminal));
        case Notice::kFoundPort:
            return Same(std::string(kFoundPort) + Text_Arg(notice, 0));
        case Notice::kReadyToUpdate:
            return Same(std::string(kReadyToUpdate));
        case Notice::kWrongBin:
            return Same(std::string(kWrongBin));
        case Notice::kReopenFailed:
            return Same(std::string(kReopenFailed));
        case Notice::kRegionsOverlap:
            return Pair(kRegionsOverlapEn, kRegionsOverlapZh,
                        Range_Text(Number_Arg(notice, 0), Number_Arg(notice, 1)) + ", " +
                            Range_Text(Number_Arg(notice, 2), Number_Arg(notice, 3)));
        case Notice::kNoRegionData:
            return Pair(kNoRegionDataEn, kNoRegionDataZh);
        case Notice::kImageTooLarge: {
            const std::string bytes = std::to_string(Number_Arg(notice, 0));
            const std::string most = std::to_string(Number_Arg(notice, 1));
            return {std::string(kImageTooLargeEn) + bytes + std::string(kImageTooLargeMidEn) +
                        most + std::string(kImageTooLargeEndEn),
                    std::string(kImageTooLargeZh) + bytes + std::string(kImageTooLargeMidZh) +
                        most + std::string(kImageTooLargeEndZh)};
        }
        case Notice::kImageHasHoles: {
            const std::string bytes = std::to_string(Number_Arg(notice, 0));
            return {std::string(kImageHasHolesEn) + bytes + std::string(kImageHasHolesEndEn),
                    std::string(kImageHasHolesZh) + bytes + std::string(kImageHasHolesEndZh)};
        }
        case Notice::kReadVersionFailed:
            return Same(With_Code(kReadVersionFailed, notice));
        case Notice::kDumpFailed:
            return Same(With_Code(kDumpFailed, notice));
        case Notice::kWriteVersionFailed:
            return Same(With_Code(kWriteVersionFailed, notice));
        case Notice::kSetRegionsFailed:
            return Same(With_Code(kSetRegionsFailed, notice));
        case Notice::kDownloadFailed:
            return Same(With_Code(kDownloadFailed, notice));
        case Notice::kDisconnected:
            return Pair(kDisconnectedEn, kDisconnectedZh);
        case Notice::kWriteStuck:
            return Pair(kWriteStuckEn, kWriteStuckZh);
        case Notice::kDumpMoved:
            return Pair(kDumpMovedEn, kDumpMovedZh, Text_Arg(notice, 0));
        case Notice::kDumpKept:
            return Pair(kDumpKeptEn, kDumpKeptZh, Text_Arg(notice, 0));
        case Notice::kStartAt:
            return Pair(kStartAtEn, kStartAtZh, Time_Line_Tail(notice.time));
        case Notice::kEndAt:
            return Pair(kEndAtEn, kEndAtZh, Time_Line_Tail(notice.time));
        case Notice::kUpdateOk:
            return Pair(kUpdateOkEn, kUpdateOkZh);
    }
    return {};
}

bool Follows_Language(report::Notice id) {
    switch (id) {
        case Notice::kNotFound:
        case Notice::kRegionsOverlap:
        case Notice::kNoRegionData:
        case Notice::kImageTooLarge:
        case Notice::kImageHasHoles:
        case Notice::kDisconnected:
        case Notice::kWriteStuck:
        case Notice::kDumpMoved:
        case Notice::kDumpKept:
        case Notice::kStartAt:
        case Notice::kEndAt:
        case Notice::kUpdateOk:
            return true;
        default:
            return false;
    }
}

std::string Notice_Single_Line(const report::Notice_Event& notice, Language language) {
    std::string line = Notice_Line(notice, language);
    std::erase(line, '\n');
    return line;
}

std::vector<report::Notice_Event> Failure_Notices(report::Notice step_failed, int code,
                                                  Io_End end) {
    std::vector<report::Notice_Event> notices{report::Say_Code(step_failed, code)};
    if (end == Io_End::kHungUp)
        notices.push_back(report::Say(Notice::kDisconnected));
    else if (code == boot::kWriteTimedOutCode)
        notices.push_back(report::Say(Notice::kWriteStuck));
    return notices;
}

}  // namespace text
