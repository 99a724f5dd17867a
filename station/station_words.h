// The station's words that its window and its command both show, in both
// languages: the table's columns, the phases and the results, so that the
// two say the same. Chinese texts are Traditional Chinese, stored as UTF-8.
#pragma once

#include <string_view>

#include <string>

#include "download/texts.h"
#include "station/station.h"

namespace station_text {

using Pair = text::Word_Pair;

inline constexpr Pair kColumnPort{"Port", "通訊埠"};
inline constexpr Pair kColumnIdentity{"Identity", "裝置"};
inline constexpr Pair kColumnPhase{"Phase", "階段"};
inline constexpr Pair kColumnProgress{"Progress", "進度"};
inline constexpr Pair kColumnRate{"Rate", "速度"};
inline constexpr Pair kColumnElapsed{"Elapsed", "經過時間"};
inline constexpr Pair kColumnResult{"Result", "結果"};
inline constexpr Pair kColumnLastLine{"Last message", "最後訊息"};

// The words of a phase.
Pair Phase_Pair(Station_Phase phase);

inline constexpr Pair kUpdated{"updated", "更新完成"};
inline constexpr Pair kFailed{"failed", "失敗"};  // followed by " (code N)" where one is known
inline constexpr Pair kStopped{"stopped", "已停止"};
inline constexpr Pair kUnpluggedEarly{"unplugged", "中途拔除"};
// A port where no boot loader answered: nothing was sent to a phone there.
inline constexpr Pair kNoPhone{"no phone: no boot loader answered",
                               "沒有手機:開機載入程式沒有回應"};
inline constexpr Pair kNoPhoneAdvice{"if it is a phone: unplug it, hold key 1, plug it in again",
                                     "若是手機:請拔除,按住 1 鍵再接上"};

// After a count: the journal's records a line's server has not taken yet.
inline constexpr Pair kRecordsWaiting{" journal records wait for the line's server",
                                      " 筆記錄等待傳送"};

// A port the station does not take, and why.
inline constexpr Pair kSkipped{"skipped: not a phone port", "已略過:不是手機的連接埠"};
inline constexpr Pair kSkippedPhase{"skipped", "已略過"};
inline constexpr Pair kNotUsb{"not a USB device", "不是 USB 裝置"};
inline constexpr Pair kNotMatched{"not in --match", "不在 --match 之中"};
inline constexpr Pair kNotInSlots{"not in the slots file", "不在插座檔案之中"};

}  // namespace station_text

// Why a port was skipped: "not a USB device", "1d6b:0104 not in --match".
std::string Skip_Words(Port_Skip skip, const std::string& usb_id, Language language);

// The phase as a row shows it, in that language.
std::string Phase_Words(Station_Phase phase, Language language);
