// The station window's own texts, in both languages; the words it shares
// with the station command are in download/station_words.h. Chinese texts
// are Traditional Chinese, stored as UTF-8.
#pragma once

#include <string_view>

#include "bootloader/phone_model.h"
#include "station/station_words.h"

namespace station_text {

inline constexpr Pair kTitle{kPhoneModel.station_title_english, kPhoneModel.station_title_chinese};
inline constexpr Pair kOpenImage{"Open image...", "開啟映像檔..."};
inline constexpr Pair kStart{"Start", "開始"};
inline constexpr Pair kStop{"Stop", "停止"};
inline constexpr Pair kSettings{"Settings...", "設定..."};

inline constexpr Pair kCountUpdated{"Updated: ", "更新完成: "};
inline constexpr Pair kCountFailed{"  Failed: ", "  失敗: "};
inline constexpr Pair kCountRunning{"  Running: ", "  進行中: "};
inline constexpr Pair kImage{"  Image: ", "  映像檔: "};
inline constexpr Pair kNoImage{"  No image chosen", "  尚未選擇映像檔"};

inline constexpr Pair kImageLoaded{"Image loaded: ", "映像檔已載入: "};
inline constexpr Pair kImageNotOpened{"The image cannot be opened: ", "無法開啟映像檔: "};
inline constexpr Pair kImageRefused{"The image was not loaded: ", "映像檔未載入: "};
inline constexpr Pair kWatching{"Waiting for phones: plug them in one after another.",
                                "等待手機中: 請逐一插入手機。"};
inline constexpr Pair kCannotWatch{"The ports cannot be watched; the station did not start.",
                                   "無法監看通訊埠,更新站未啟動。"};
inline constexpr Pair kEnded{"The station has stopped.", "更新站已停止。"};
// A "no" to the stop question.
inline constexpr Pair kGoingOn{
    "Nothing was stopped: the phones go on and the station keeps taking "
    "phones.",
    "沒有停止任何手機:更新繼續進行,更新站仍會接受新手機。"};
// A "no" after the other phones were stopped (one came at risk meanwhile).
inline constexpr Pair kGoingOnToTheEnd{
    "The phones being rewritten go on; the station takes no new phone and stops once they are "
    "done.",
    "正在更新的手機繼續進行;更新站不再接受新手機,完成後即停止。"};
// Ports whose phones the last station handled and that are still there.
inline constexpr Pair kLeftAlone{
    "Already handled and still plugged in, so not updated again (unplug a phone and plug it in "
    "to update it again): ",
    "已處理且仍接著,不再更新(要再次更新請拔除後重新接上): "};
// After a phone's result, where its session left it unable to start.
inline constexpr Pair kWillNotStart{", will not start", ",無法開機"};
inline constexpr Pair kWillNotStartLine{": the phone will not start until it is updated again",
                                        ":手機在再次更新之前將無法開機"};
// The log folder: each phone's log and the summaries.
inline constexpr Pair kLogsIn{"Logs and summaries are written in ", "記錄與摘要寫入 "};
inline constexpr Pair kNoLogs{"No logs are written: this folder cannot be used for them: ",
                              "不會寫入記錄:無法使用此資料夾: "};
inline constexpr Pair kSummaryFiles{"Summary: ", "摘要: "};
inline constexpr Pair kNotWritten{"Not written whole: ", "未完整寫入: "};

// The settings of which ports are phones'.
inline constexpr Pair kBadMatch{"Not a USB VID:PID (such as 1d6b:0104 or 1d6b:*): ",
                                "不是 USB VID:PID(例如 1d6b:0104 或 1d6b:*): "};
inline constexpr Pair kBadSlots{"The slots file cannot be used: ", "無法使用插槽檔: "};
inline constexpr Pair kSlotsLine{" line ", " 第 "};
inline constexpr Pair kSlotsLineEnd{"", " 行"};
inline constexpr Pair kSlotsForm{"; each line is USB-PATH = LABEL, such as 1-1.3 = A3",
                                 ";每行格式為 USB-PATH = LABEL,例如 1-1.3 = A3"};
inline constexpr Pair kPortsTaken{"Phones are taken from: ", "接受手機的通訊埠: "};
inline constexpr Pair kEveryUsbPort{"every USB serial port", "所有 USB 序列埠"};
inline constexpr Pair kMatching{"USB devices ", "USB 裝置 "};
inline constexpr Pair kSocketsOnly{"only the slots file's sockets", "僅限插槽檔中的插槽"};
inline constexpr Pair kSocketsNamed{" sockets named in ", " 個插槽名稱取自 "};
// The settings dialog.
inline constexpr Pair kSettingsTitle{"Station settings", "更新站設定"};
inline constexpr Pair kMatchLabel{"Only these USB devices (VID:PID or VID:*, several apart):",
                                  "僅限這些 USB 裝置(VID:PID 或 VID:*,以空格分隔):"};
inline constexpr Pair kSlotsLabel{"Slots file (USB-PATH = LABEL lines):",
                                  "插槽檔(每行 USB-PATH = LABEL):"};
inline constexpr Pair kOnlySlotsLabel{"Take only the phones in the slots file's sockets",
                                      "只接受插槽檔中插槽的手機"};
inline constexpr Pair kLogFolderLabel{"Log folder:", "記錄資料夾:"};
inline constexpr Pair kJournalServerLabel{"Line's journal server (PostgreSQL; empty: none):",
                                          "產線記錄伺服器 (PostgreSQL;空白:不傳送):"};
inline constexpr Pair kBrowse{"Browse...", "瀏覽..."};
inline constexpr Pair kOk{"OK", "確定"};
inline constexpr Pair kCancel{"Cancel", "取消"};
inline constexpr Pair kNotStarted{"The station did not start.", "更新站未啟動。"};

// The stop question: the phones' ports one a line between its two parts.
inline constexpr Pair kQuestionHead{"These phones are being rewritten:", "以下手機正在更新中:"};
inline constexpr Pair kQuestionTail{
    "If you stop now, they cannot start until they are updated again.\n\nStop them?",
    "現在停止的話,這些手機在再次更新之前將無法開機。\n\n要停止嗎?"};

}  // namespace station_text
