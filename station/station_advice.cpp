// The station's advice for each ending of a phone's session.
#include "station/station_advice.h"

namespace {

// The phone's record or flash was left half replaced: it starts again only
// once an update completes, from the boot loader (key 1 held).
Advice At_Risk_Or(bool touched, Advice unchanged, Advice at_risk) {
    return touched ? at_risk : unchanged;
}

Advice Version_Check_Advice(const Download_Failure& failure) {
    switch (failure.verdict) {
        case boot::Compare_Result::kFirstRun:
            return failure.dump_code != 0 ? Advice::kDumpFailed : Advice::kNoRecordInDump;
        case boot::Compare_Result::kVersionCodeDiffers:
            return Advice::kOtherModel;
        case boot::Compare_Result::kLanguageDiffers:
            return Advice::kOtherLanguage;
        case boot::Compare_Result::kCheckedByteDiffers:
            return Advice::kVersionDoesNotFit;
        case boot::Compare_Result::kGoOn:
            break;
    }
    return Advice::kCheckFailed;
}

}  // namespace

Advice Advice_For(const Phone_Ending& ending) {
    const bool touched = ending.phone_touched;
    if (ending.outcome == Download_Outcome::kUpdated)
        return Advice::kUpdated;
    if (ending.no_phone)
        return Advice::kNoPhone;
    if (ending.unplugged)
        return At_Risk_Or(touched, Advice::kUnpluggedUnchanged, Advice::kUnpluggedAtRisk);
    if (ending.outcome == Download_Outcome::kStopped)
        return At_Risk_Or(touched, Advice::kStoppedUnchanged, Advice::kStoppedAtRisk);
    switch (ending.failure.step) {
        case Download_Step::kReadVersion:
            return At_Risk_Or(touched, Advice::kVersionNotRead, Advice::kNotUpdatedAtRisk);
        case Download_Step::kCompare:
            return Version_Check_Advice(ending.failure);
        case Download_Step::kWriteVersion:
            return Advice::kRecordNotWritten;
        case Download_Step::kSetRegions:
        case Download_Step::kDownloadRegions:
            return Advice::kProgrammingFailed;
        case Download_Step::kNone:
        case Download_Step::kImage:
        case Download_Step::kSearch:
            break;
    }
    if (ending.outcome == Download_Outcome::kProgrammingFailed)
        return Advice::kProgrammingFailed;
    return At_Risk_Or(touched, Advice::kNotUpdatedUnchanged, Advice::kNotUpdatedAtRisk);
}

text::Word_Pair Advice_Words(Advice advice) {
    switch (advice) {
        case Advice::kUpdated:
            return {"Updated: it starts with the new firmware. Unplug it.",
                    "更新完成:手機以新韌體開機。請拔除。"};
        case Advice::kNoPhone:
            return {
                "No boot loader answered, nothing was sent. If it is a phone: unplug it, "
                "hold key 1 and plug it in again.",
                "開機載入程式沒有回應,未傳送任何資料。若是手機:請拔除,按住 1 鍵再接上。"};
        case Advice::kStoppedUnchanged:
            return {
                "Stopped before anything was written: the phone is unchanged and still "
                "starts. Plug it in again with key 1 held to update it.",
                "在寫入前已停止:手機未更動,仍可開機。要更新請按住 1 鍵重新接上。"};
        case Advice::kStoppedAtRisk:
            return {
                "Stopped while it was being rewritten: it will not start until it is "
                "updated. Plug it in again with key 1 held.",
                "在燒錄中被停止:更新完成前手機無法開機。請按住 1 鍵重新接上。"};
        case Advice::kUnpluggedUnchanged:
            return {
                "Unplugged before anything was written: the phone is unchanged and still "
                "starts. Plug it in again with key 1 held to update it.",
                "在寫入前被拔除:手機未更動,仍可開機。要更新請按住 1 鍵重新接上。"};
        case Advice::kUnpluggedAtRisk:
            return {
                "Unplugged while its flash was being rewritten: it will not start until it "
                "is updated. Plug it in again with key 1 held.",
                "在燒錄中被拔除:更新完成前手機無法開機。請按住 1 鍵重新接上。"};
        case Advice::kVersionNotRead:
            return {
                "Its version could not be read: the phone is unchanged and still starts. "
                "Unplug it and plug it in again with key 1 held; if it fails again, try "
                "another cable or socket.",
                "無法讀取手機版本:手機未更動,仍可開機。請拔除後按住 1 "
                "鍵重新接上;若再失敗,請換傳輸線或插座。"};
        case Advice::kDumpFailed:
            return {
                "Its boot loader could not be saved, so its version is unknown: the phone is "
                "unchanged and still starts. Unplug it and plug it in again with key 1 held.",
                "無法備份開機程式,手機版本不明:手機未更動,仍可開機。請拔除後按住 1 "
                "鍵重新接上。"};
        case Advice::kNoRecordInDump:
            return {
                "Its boot loader holds no version this program knows: the phone is unchanged "
                "and still starts. Set it aside and ask the service centre for its image.",
                "開機程式中沒有可辨識的版本:手機未更動,仍可開機。請將它放在一旁,"
                "向服務中心索取適用的映像檔。"};
        case Advice::kOtherModel:
            return {
                "The image is for another phone model: the phone is unchanged and still "
                "starts. Set it aside, or load the image made for it.",
                "映像檔是其他機型的:手機未更動,仍可開機。請將它放在一旁,或載入該機型的映像檔。"};
        case Advice::kOtherLanguage:
            return {
                "The image is for another language than the phone's: the phone is unchanged "
                "and still starts. Set it aside, or load an image in its language.",
                "映像檔的語言別與手機不同:手機未更動,仍可開機。請將它放在一旁,"
                "或載入相同語言別的映像檔。"};
        case Advice::kVersionDoesNotFit:
            return {
                "The image's version does not fit this phone's: the phone is unchanged and "
                "still starts. Set it aside, or load the image made for it.",
                "映像檔的版本與手機不相符:手機未更動,仍可開機。請將它放在一旁,"
                "或載入適用的映像檔。"};
        case Advice::kCheckFailed:
            return {
                "The version check stopped the update: the phone is unchanged and still "
                "starts. Read its log, then plug it in again with key 1 held.",
                "版本檢查未通過:手機未更動,仍可開機。請查看記錄後按住 1 鍵重新接上。"};
        case Advice::kRecordNotWritten:
            return {
                "Writing its version failed: it will not start until it is updated. Unplug "
                "it and plug it in again with key 1 held; if it fails again, try another "
                "cable or socket.",
                "寫入版本失敗:更新完成前手機無法開機。請拔除後按住 1 "
                "鍵重新接上;若再失敗,請換傳輸線或插座。"};
        case Advice::kProgrammingFailed:
            return {
                "Rewriting its flash failed: it will not start until it is updated. Unplug "
                "it and plug it in again with key 1 held; if it fails again, try another "
                "cable or socket.",
                "燒錄失敗:更新完成前手機無法開機。請拔除後按住 1 "
                "鍵重新接上;若再失敗,請換傳輸線或插座。"};
        case Advice::kNotUpdatedUnchanged:
            return {
                "Not updated: the phone is unchanged and still starts. Read its log, then "
                "plug it in again with key 1 held.",
                "未更新:手機未更動,仍可開機。請查看記錄後按住 1 鍵重新接上。"};
        case Advice::kNotUpdatedAtRisk:
            return {
                "Not updated after it began to be rewritten: it will not start until it is "
                "updated. Plug it in again with key 1 held.",
                "燒錄開始後未完成更新:更新完成前手機無法開機。請按住 1 鍵重新接上。"};
    }
    return {};
}

const char* Advice_Name(Advice advice) {
    switch (advice) {
        case Advice::kUpdated:
            return "updated";
        case Advice::kNoPhone:
            return "no_phone";
        case Advice::kStoppedUnchanged:
            return "stopped_unchanged";
        case Advice::kStoppedAtRisk:
            return "stopped_at_risk";
        case Advice::kUnpluggedUnchanged:
            return "unplugged_unchanged";
        case Advice::kUnpluggedAtRisk:
            return "unplugged_at_risk";
        case Advice::kVersionNotRead:
            return "version_not_read";
        case Advice::kDumpFailed:
            return "dump_failed";
        case Advice::kNoRecordInDump:
            return "no_record_in_dump";
        case Advice::kOtherModel:
            return "other_model";
        case Advice::kOtherLanguage:
            return "other_language";
        case Advice::kVersionDoesNotFit:
            return "version_does_not_fit";
        case Advice::kCheckFailed:
            return "check_failed";
        case Advice::kRecordNotWritten:
            return "record_not_written";
        case Advice::kProgrammingFailed:
            return "programming_failed";
        case Advice::kNotUpdatedUnchanged:
            return "not_updated_unchanged";
        case Advice::kNotUpdatedAtRisk:
            return "not_updated_at_risk";
    }
    return "unknown";
}

bool Phone_Still_Starts(Advice advice) {
    switch (advice) {
        case Advice::kStoppedAtRisk:
        case Advice::kUnpluggedAtRisk:
        case Advice::kRecordNotWritten:
        case Advice::kProgrammingFailed:
        case Advice::kNotUpdatedAtRisk:
            return false;
        default:
            return true;
    }
}
