// The station window's own texts, in both languages. Chinese texts are
// Traditional Chinese, stored as UTF-8.
#pragma once

#include <string_view>

#include "download/texts.h"

namespace station_text {

struct Pair {
    std::string_view english;
    std::string_view chinese;
    std::string_view For(Language language) const {
        return text::By_Language(language, english, chinese);
    }
};

inline constexpr Pair kTitle{"Vantrel Tool station", "Vantrel Tool 多機更新站"};
inline constexpr Pair kOpenImage{"Open image...", "開啟映像檔..."};
inline constexpr Pair kStart{"Start", "開始"};
inline constexpr Pair kStop{"Stop", "停止"};

inline constexpr Pair kColumnPort{"Port", "通訊埠"};
inline constexpr Pair kColumnIdentity{"Identity", "裝置"};
inline constexpr Pair kColumnPhase{"Phase", "階段"};
inline constexpr Pair kColumnProgress{"Progress", "進度"};
inline constexpr Pair kColumnRate{"Rate", "速度"};
inline constexpr Pair kColumnElapsed{"Elapsed", "經過時間"};
inline constexpr Pair kColumnResult{"Result", "結果"};
inline constexpr Pair kColumnLastLine{"Last message", "最後訊息"};

// By Station_Phase's numbers.
inline constexpr Pair kPhases[] = {
    {"arrived", "已連接"},  {"handshake", "握手中"},        {"checking version", "檢查版本"},
    {"dumping", "備份中"},  {"writing record", "寫入版本"}, {"rewriting", "燒錄中"},
    {"finished", "已結束"}, {"unplug it", "請拔除"},        {"gone", "已拔除"},
};

inline constexpr Pair kUpdated{"updated", "更新完成"};
inline constexpr Pair kFailed{"failed", "失敗"};  // followed by " (code N)" where one is known
inline constexpr Pair kStopped{"stopped", "已停止"};
inline constexpr Pair kUnpluggedEarly{"unplugged", "中途拔除"};

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

// The stop question: the phones' ports one a line between its two parts.
inline constexpr Pair kQuestionHead{"These phones are being rewritten:", "以下手機正在更新中:"};
inline constexpr Pair kQuestionTail{
    "If you stop now, they cannot start until they are updated again.\n\nStop them?",
    "現在停止的話,這些手機在再次更新之前將無法開機。\n\n要停止嗎?"};

}  // namespace station_text
