// The endings of an update that did not complete, in one table with both
// languages, and which of them the command's results name.
#include "cli/flash_ending.h"

#include <algorithm>
#include <array>
#include <initializer_list>

namespace cli {
namespace {

struct Ending_Texts {
    Flash_Ending ending;
    std::string_view english;
    std::string_view chinese;
};

// "{}" stands for the detail: an error code, a command, a signal's name.
constexpr std::array<Ending_Texts, 20> kEndings{{
    {Flash_Ending::kImageUnreadable,
     "the image was not loaded, the phone was not changed. Name a readable image file and run "
     "flash again.",
     "映像檔未載入,手機未更動。請指定可讀取的映像檔後再執行 flash。"},
    {Flash_Ending::kImageRefused,
     "the image was refused (it is not an image for this phone), the phone was not changed. "
     "Choose the right image file and run flash again.",
     "映像檔不符(不是本機型的映像檔),手機未更動。請選擇正確的映像檔後再執行 flash。"},
    {Flash_Ending::kPhoneNotFound,
     "no phone answered, the phone was not changed. Switch the phone off, hold key 1, plug it "
     "in and run flash again; run '{}' to see why each port can or cannot be used.",
     "找不到手機,手機未更動。請將手機關機,按住按鍵1插上傳輸線後再執行 flash;執行 '{}' "
     "可查看各通訊埠能否使用及原因。"},
    {Flash_Ending::kPortsNotListed,
     "the serial ports could not be listed (listing error {}), the phone was not changed. Name "
     "the phone's port with --port and run flash again.",
     "無法列出序列埠(列出錯誤 {}),手機未更動。請以 --port 指定手機的通訊埠後再執行 flash。"},
    {Flash_Ending::kPortMissing,
     "{} does not exist, the phone was not changed. Check the name ('flashtool-cli ports' lists "
     "the serial ports), or plug the phone in with key 1 held, and run flash again.",
     "通訊埠 {} 不存在,手機未更動。請檢查名稱('flashtool-cli ports' "
     "可列出序列埠),或按住按鍵1插上手機後再執行 flash。"},
    {Flash_Ending::kPortNotPermitted,
     "a serial port refused you, the phone was not changed. Do what the line above says (your "
     "user in the port's group, then a new login) and run flash again; '{}' explains it in full.",
     "序列埠拒絕您開啟,手機未更動。請依上方訊息處理(將您的帳號加入通訊埠的群組並重新登入)後再執行 "
     "flash;'{}' 有完整說明。"},
    {Flash_Ending::kPortInUse,
     "another program holds a serial port, the phone was not changed. Close the program named "
     "above and run flash again.",
     "另一個程式正佔用序列埠,手機未更動。請關閉上方列出的程式後再執行 flash。"},
    {Flash_Ending::kPortNotUsable,
     "{} is not the phone's port (see the line above), the phone was not changed. Name the "
     "phone's serial port ('flashtool-cli ports' lists them) and run flash again.",
     "{} 不是手機的通訊埠(見上方訊息),手機未更動。請指定手機的序列埠('flashtool-cli ports' "
     "可列出)後再執行 flash。"},
    {Flash_Ending::kVersionReadFailed,
     "the phone's version could not be read (error {}), the phone was not changed. Unplug it, "
     "plug it in again with key 1 held and run flash again.",
     "無法讀取手機版本(錯誤 {}),手機未更動。請拔下手機,按住按鍵1重新連接後再執行 flash。"},
    {Flash_Ending::kDumpFailed,
     "the phone's boot loader could not be saved (error {}), so its version is unknown; the "
     "phone was not changed. Unplug it, plug it in again with key 1 held and run flash again.",
     "無法備份手機的開機程式(錯誤 {}),無法得知手機版本;手機未更動。請拔下手機,按住按鍵1"
     "重新連接後再執行 flash。"},
    {Flash_Ending::kNoRecordInDump,
     "the phone's boot loader holds no version this program knows, so the image cannot be "
     "checked against it; the phone was not changed. Ask your service centre for an image for "
     "this phone.",
     "手機的開機程式中找不到可辨識的版本,無法與映像檔比對;手機未更動。請向服務中心索取"
     "適用這支手機的映像檔。"},
    {Flash_Ending::kVersionCodeDiffers,
     "the image is for another phone model (its version code differs from the phone's), the "
     "phone was not changed. Use an image made for this phone.",
     "映像檔的機型與手機不同(版本代碼不符),手機未更動。請使用本機型的映像檔。"},
    {Flash_Ending::kLanguageDiffers,
     "the image is for another language than the phone's, the phone was not changed. Use an "
     "image in the phone's language.",
     "映像檔的語言別與手機不同,手機未更動。請使用與手機相同語言別的映像檔。"},
    {Flash_Ending::kCheckedByteDiffers,
     "the image's version does not fit the phone's (their variant letters differ), the phone "
     "was not changed. Use an image made for this phone.",
     "映像檔的版本與手機不相符(版本類別不同),手機未更動。請使用本機型的映像檔。"},
    {Flash_Ending::kVersionCheckFailed,
     "the version check stopped the update, the phone was not changed. Read the lines above, "
     "then run flash again.",
     "版本檢查未通過,更新已停止;手機未更動。請參考上方訊息後再執行 flash。"},
    {Flash_Ending::kVersionWriteFailed,
     "writing the image's version into the phone failed (error {}); the phone cannot start "
     "until it is updated. Unplug it, plug it in again with key 1 held and run flash again.",
     "寫入手機版本失敗(錯誤 {});手機在更新完成前無法開機。請拔下手機,按住按鍵1重新連接後"
     "再執行 flash。"},
    {Flash_Ending::kProgrammingFailed,
     "programming the phone's flash failed (error {}); the phone cannot start until it is "
     "updated. Unplug it, plug it in again with key 1 held and run flash again.",
     "燒錄手機失敗(錯誤 {});手機在更新完成前無法開機。請拔下手機,按住按鍵1重新連接後再執行 "
     "flash。"},
    {Flash_Ending::kStoppedPhoneUnchanged,
     "interrupted by {}, the port is closed; the phone was not changed. Run flash again when "
     "you are ready.",
     "已被 {} 中斷,通訊埠已關閉;手機未更動。準備好後請再執行 flash。"},
    {Flash_Ending::kStoppedPhoneAtRisk,
     "interrupted by {}, the port is closed; the phone cannot start until it is updated. Run "
     "flash again.",
     "已被 {} 中斷,通訊埠已關閉;手機在更新完成前無法開機。請再執行 flash。"},
    {Flash_Ending::kStoppedReadOnly,
     "interrupted by {}, the port is closed; nothing was written to the phone.",
     "已被 {} 中斷,通訊埠已關閉;未寫入任何資料到手機。"},
}};

// Why the image was not loaded: one that could not be read, or one that is
// no image for this phone.
Ending Image_Ending(Image_Load_Result result) {
    switch (result) {
        case Image_Load_Result::kNotOpened:
        case Image_Load_Result::kNotReopened:
            return {Flash_Ending::kImageUnreadable, {}};
        case Image_Load_Result::kWrongBin:
        case Image_Load_Result::kBadVersionLength:
        case Image_Load_Result::kLoaded:
        case Image_Load_Result::kStopped:
            break;
    }
    return {Flash_Ending::kImageRefused, {}};
}

// Why the version check failed: a failed exchange, with its code; otherwise
// the records' comparison decided.
Ending Version_Check_Ending(const Download_Failure& failure) {
    const std::string code = std::to_string(failure.code);
    if (failure.step == Download_Step::kWriteVersion)
        return {Flash_Ending::kVersionWriteFailed, code};
    if (failure.step == Download_Step::kReadVersion)
        return {Flash_Ending::kVersionReadFailed, code};
    if (failure.step != Download_Step::kCompare)
        return {Flash_Ending::kVersionCheckFailed, {}};
    switch (failure.verdict) {
        case boot::Compare_Result::kFirstRun:
            if (failure.dump_code != 0)
                return {Flash_Ending::kDumpFailed, std::to_string(failure.dump_code)};
            return {Flash_Ending::kNoRecordInDump, {}};
        case boot::Compare_Result::kVersionCodeDiffers:
            return {Flash_Ending::kVersionCodeDiffers, {}};
        case boot::Compare_Result::kLanguageDiffers:
            return {Flash_Ending::kLanguageDiffers, {}};
        case boot::Compare_Result::kCheckedByteDiffers:
            return {Flash_Ending::kCheckedByteDiffers, {}};
        case boot::Compare_Result::kGoOn:
            break;
    }
    return {Flash_Ending::kVersionCheckFailed, {}};
}

}  // namespace

Ending Ending_Of(const Flash_Result& result) {
    switch (result.outcome) {
        case Download_Outcome::kImageNotLoaded:
            return Image_Ending(result.failure.image);
        case Download_Outcome::kPhoneNotFound:
            return {Flash_Ending::kPhoneNotFound, {}};
        case Download_Outcome::kFailedBeforeProgramming:
            return Version_Check_Ending(result.failure);
        case Download_Outcome::kProgrammingFailed:
            return {Flash_Ending::kProgrammingFailed, std::to_string(result.failure.code)};
        case Download_Outcome::kUpdated:
        case Download_Outcome::kAlreadyRunning:
        case Download_Outcome::kStopped:
            break;
    }
    return {result.phone_touched ? Flash_Ending::kStoppedPhoneAtRisk
                                 : Flash_Ending::kStoppedPhoneUnchanged,
            {}};
}

Ending Search_Ending(const Search_Failure& failure) {
    if (failure.listing != kPortListOk && failure.listing != kPortListNothingFound)
        return {Flash_Ending::kPortsNotListed, std::to_string(failure.listing)};
    if (failure.named_port && failure.named_port_missing)
        return {Flash_Ending::kPortMissing, *failure.named_port};
    const auto refused_for = [&](std::initializer_list<Open_Refusal> reasons) {
        for (const Refused_Port& port : failure.refused) {
            if (std::find(reasons.begin(), reasons.end(), port.reason) != reasons.end())
                return &port;
        }
        return static_cast<const Refused_Port*>(nullptr);
    };
    if (refused_for({Open_Refusal::kNoPermission}))
        return {Flash_Ending::kPortNotPermitted, failure.doctor_command};
    if (refused_for({Open_Refusal::kInUse}))
        return {Flash_Ending::kPortInUse, {}};
    // Among many listed ports one that is no serial port says nothing of the
    // phone's; the one port the user named does.
    if (const Refused_Port* port =
            refused_for({Open_Refusal::kNotASerialPort, Open_Refusal::kOwnTerminal});
        port != nullptr && failure.named_port) {
        return {Flash_Ending::kPortNotUsable, port->display_name};
    }
    return {Flash_Ending::kPhoneNotFound, failure.doctor_command};
}

std::string Ending_Text(Flash_Ending ending, Language language, std::string_view detail) {
    std::string line;
    for (const Ending_Texts& texts : kEndings) {
        if (texts.ending == ending)
            line = text::By_Language(language, texts.english, texts.chinese);
    }
    if (const std::size_t slot = line.find("{}"); slot != std::string::npos)
        line.replace(slot, 2, detail);
    return line;
}

}  // namespace cli
