// The fixed texts of the update and the time text, in one place.
//
// Some messages follow the window's language (Language_Flag), some are always Chinese and some
// always English, as the phone's service staff know them. Chinese texts are Traditional Chinese,
// stored as UTF-8.
#pragma once

#include <ctime>
#include <string>
#include <string_view>

// The window's language, Language_Flag: Chinese at start, English on request.
// The values are the flag's historical numbers.
enum class Language : int { kEnglish = 0, kChinese = 1 };

namespace text {

// Picks the English or the Chinese text by the language.
inline std::string_view By_Language(Language language, std::string_view english,
                                    std::string_view chinese) {
    return language == Language::kEnglish ? english : chinese;
}

// A text in both languages, for a window to show in the language it has
// when it shows it: the update never asks the window for its language.
struct Bilingual {
    std::string english;
    std::string chinese;
    const std::string& For(Language language) const {
        return language == Language::kEnglish ? english : chinese;
    }
};

// A fixed text in both languages, for tables of captions and words known
// when the program is built; Bilingual is its run-time form.
struct Word_Pair {
    std::string_view english;
    std::string_view chinese;
    constexpr std::string_view For(Language language) const {
        return language == Language::kEnglish ? english : chinese;
    }
    Bilingual Both() const { return {std::string(english), std::string(chinese)}; }
};

// The text up to its first zero byte: a text appended to the message area or
// a version field ends there, as a C string does.
inline std::string_view Up_To_Zero(std::string_view bytes) {
    const std::size_t zero = bytes.find('\0');
    return zero == std::string_view::npos ? bytes : bytes.substr(0, zero);
}

// Always Chinese.
inline constexpr std::string_view kSearching = "尋找通訊埠中....";
inline constexpr std::string_view kPleaseWait = "請耐心等候!";
inline constexpr std::string_view kFoundPort =
    "找到通訊埠 ";  // followed by COMn or the device path
inline constexpr std::string_view kReadyToUpdate = "準備開始更新";
// The version comparison's notices are below (namespace notice).

// Always English.
inline constexpr std::string_view kWrongBin = "You choose the wrong bin!";
inline constexpr std::string_view kReopenFailed = "fail to open the file, retry please !";
inline constexpr std::string_view kReadVersionFailed = "Read boot loader failed,error is ";
inline constexpr std::string_view kWriteVersionFailed = "Write version failed,error is ";
inline constexpr std::string_view kSetRegionsFailed = "Set regions failed,error is ";
inline constexpr std::string_view kDownloadFailed = "Download regions failed,error is ";
inline constexpr std::string_view kDumpFailed = "Back up boot loader failed,error is ";
// After the not-found line: ports the search was not allowed to open, and the
// fix. "No permission to open /dev/ttyACM0: add your user to the group dialout
// (sudo usermod -aG dialout $USER), then log in again".
inline constexpr std::string_view kPortsRefused = "No permission to open ";
inline constexpr std::string_view kPortsRefusedGroup = ": add your user to the group ";
inline constexpr std::string_view kPortsRefusedCommand = " (sudo usermod -aG ";
inline constexpr std::string_view kPortsRefusedLogin = " $USER), then log in again";
// A port held by another program, one line each: "/dev/ttyACM0 is in use by
// minicom (pid 4242); close it and try again".
inline constexpr std::string_view kPortInUse = " is in use by ";
inline constexpr std::string_view kPortInUseByUnknown = "another program";
inline constexpr std::string_view kPortInUseFix = "; close it and try again";
// After the not-found line, when the port listing itself broke: "The serial
// ports cannot be listed: the system's list of them cannot be read (listing
// error 4)".
inline constexpr std::string_view kPortListFailed = "The serial ports cannot be listed: ";
inline constexpr std::string_view kPortListUnreadable = "the system's list of them cannot be read";
inline constexpr std::string_view kPortListTooMany =
    "there are more of them than the search can take";
inline constexpr std::string_view kPortListBroken = "the listing failed";
inline constexpr std::string_view kPortListCode = " (listing error ";
// A path that names no serial port, or the user's own terminal.
inline constexpr std::string_view kNotASerialPort = " is not a serial port";
inline constexpr std::string_view kOwnTerminal =
    " is the terminal this program runs in, not the phone's port";

// English / Chinese pairs.
// The English text said the opposite of what happened ("can find the
// comport"); the Chinese one always said it right.
inline constexpr std::string_view kNotFoundEn = "can not find the comport";
inline constexpr std::string_view kNotFoundZh = "無法找到通訊埠";
inline constexpr std::string_view kStartAtEn = "Download start at: ";
inline constexpr std::string_view kStartAtZh = "下載開始時間: ";
inline constexpr std::string_view kEndAtEn = "Download end at: ";
inline constexpr std::string_view kEndAtZh = "下載結束時間: ";
inline constexpr std::string_view kUpdateOkEn = "Update OK!";
inline constexpr std::string_view kUpdateOkZh = "更新完成!";
inline constexpr std::string_view kClockEn = "The system time is ";
inline constexpr std::string_view kClockZh = "系統顯示時間為 ";

// After a failure line, when the port knows why the exchange broke off.
inline constexpr std::string_view kDisconnectedEn =
    "The phone was disconnected. Plug it in again with key 1 held, then press Download.";
inline constexpr std::string_view kDisconnectedZh =
    "手機連線已中斷。請按住按鍵1重新連接手機,再按更新韌體。";
inline constexpr std::string_view kWriteStuckEn =
    "The phone stopped taking data. Unplug it, plug it in again with key 1 held, then press "
    "Download.";
inline constexpr std::string_view kWriteStuckZh =
    "手機停止接收資料。請拔下手機,按住按鍵1重新連接,再按更新韌體。";

// The first-run dump of a command that stopped before the flash is kept
// (it holds the phone's boot loader), and named once: "... kept in PATH".
inline constexpr std::string_view kDumpKeptEn = "The phone's boot loader dump is kept in ";
inline constexpr std::string_view kDumpKeptZh = "手機開機程式的備份保留於 ";
// A file found at the dump's name when a first run starts is moved aside,
// never opened: "... kept as PATH.1".
inline constexpr std::string_view kDumpMovedEn = "An earlier dump is kept as ";
inline constexpr std::string_view kDumpMovedZh = "先前的備份已改存為 ";

// After "You choose the wrong bin!", in the window's language: why an image
// whose fields are sound is still none to send. The overlap line ends with
// both address ranges, "0x00010000-0x0001FFFF, 0x00018000-0x00027FFF".
inline constexpr std::string_view kRegionsOverlapEn =
    "The image's two flash regions overlap, so one flash address would get two bytes: ";
inline constexpr std::string_view kRegionsOverlapZh =
    "映像檔的兩個燒錄區域互相重疊,同一個快閃記憶體位址會被寫入兩次: ";
inline constexpr std::string_view kNoRegionDataEn =
    "Both flash regions of the image are empty: it holds nothing to write to the phone.";
inline constexpr std::string_view kNoRegionDataZh =
    "映像檔的兩個燒錄區域都是空的,沒有可寫入手機的資料。";
// "The image's flash regions hold N bytes, more than ... (M bytes)."
inline constexpr std::string_view kImageTooLargeEn = "The image's flash regions hold ";
inline constexpr std::string_view kImageTooLargeMidEn =
    " bytes, more than the phone's flash can take (";
inline constexpr std::string_view kImageTooLargeEndEn = " bytes).";
inline constexpr std::string_view kImageTooLargeZh = "映像檔的燒錄區域共 ";
inline constexpr std::string_view kImageTooLargeMidZh = " 位元組,超過手機快閃記憶體可容納的 ";
inline constexpr std::string_view kImageTooLargeEndZh = " 位元組。";
// "The image file has holes: N bytes of ... again."
inline constexpr std::string_view kImageHasHolesEn = "The image file has holes: ";
inline constexpr std::string_view kImageHasHolesEndEn =
    " bytes of its flash regions are not on the disk. Copy the file whole, then choose it again.";
inline constexpr std::string_view kImageHasHolesZh = "映像檔含有空洞:燒錄區域中有 ";
inline constexpr std::string_view kImageHasHolesEndZh =
    " 位元組不在磁碟上。請完整複製檔案後再選擇一次。";

// Asked when the window is closed while the phone's flash is being rewritten.
inline constexpr std::string_view kStopQuestionEn =
    "The phone is being updated. If you stop now, the phone cannot start until it is updated "
    "again.\n\nStop the update?";
inline constexpr std::string_view kStopQuestionZh =
    "手機正在更新中。現在停止的話,手機在再次更新之前將無法開機。\n\n要停止更新嗎?";

// "Www Mmm dd hh:mm:ss yyyy\n", built here rather than by the C library so
// that it reads the same in every locale.
std::string Time_Text(const std::tm& local_time);
// The time text of the current local time.
std::string Time_Text_Now();

}  // namespace text

// The version comparison's notices, always in Traditional Chinese, as the
// phone's service staff know them.
namespace notice {

inline constexpr std::string_view kFirstRun = "第一次執行Vantrel,備份手機版本中請稍待一會兒";
inline constexpr std::string_view kVersionMismatch = "手機版本比對錯誤";
inline constexpr std::string_view kLanguageMismatch = "手機語言別與下載版本不同";
inline constexpr std::string_view kPhoneNewer = "手機版本比下載版本新";
inline constexpr std::string_view kSameVersion = "手機版本與下載版本相同";

}  // namespace notice
