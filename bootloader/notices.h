// The notices the version comparison prints, always in Traditional Chinese
// (stored as UTF-8), as the phone's service staff know them.
#pragma once

#include <string_view>

namespace notice {

inline constexpr std::string_view kFirstRun = "第一次執行Vantrel,備份手機版本中請稍待一會兒";
inline constexpr std::string_view kVersionMismatch = "手機版本比對錯誤";
inline constexpr std::string_view kLanguageMismatch = "手機語言別與下載版本不同";
inline constexpr std::string_view kPhoneNewer = "手機版本比下載版本新";
inline constexpr std::string_view kSameVersion = "手機版本與下載版本相同";

}  // namespace notice
