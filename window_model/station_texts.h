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
