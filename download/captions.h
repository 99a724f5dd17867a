// The window's language-dependent captions: the buttons and labels that the
// Language menu re-captions, and the clock button's on/off captions.
#pragma once

#include <string_view>

#include "download/texts.h"

namespace caption {

using Pair = text::Word_Pair;

// In the order the language switch sets them.
inline constexpr Pair kDownload{"Download", "更新韌體"};
inline constexpr Pair kCancel{"Cancel", "離開"};
inline constexpr Pair kShowTime{"Show time", "顯示時間"};
inline constexpr Pair kNewVersion{"New version", "新版本"};
inline constexpr Pair kOldVersion{"Old version", "舊版本"};

// Set by the clock button itself. The English "Show Time " keeps the trailing
// blank the service staff's screenshots show.
inline constexpr Pair kClockOn{"Don't Show", "不顯示"};
inline constexpr Pair kClockOff{"Show Time ", "顯示時間"};

}  // namespace caption
