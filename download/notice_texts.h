// The one catalogue of what the update says: each notice of the report
// (bootloader/update_report.h) as the line a window's message area, the
// command-line tool, a station's rows and its logs show, in both languages.
// Notices that the service staff know in one language only (the search's
// and the comparison's Chinese lines, the steps' English failures) have the
// same text in both.
//
// Texts from outside that a notice carries (ports, paths, holders, groups)
// are escaped here, where the line is built (display_text.h).
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "bootloader/update_report.h"
#include "download/texts.h"

namespace text {

// The notice's line in both languages.
Bilingual Notice_Text(const report::Notice_Event& notice);
// Whether the notice's line follows the window's language; the others read
// the same in both.
bool Follows_Language(report::Notice id);
// The notice as its line in one language.
inline std::string Notice_Line(const report::Notice_Event& notice, Language language) {
    return Notice_Text(notice).For(language);
}

// The notice as one line in one language, for a place that shows a line per
// notice (a station's rows and logs): the time text's line feed, which the
// message area keeps before the full stop, is left out.
std::string Notice_Single_Line(const report::Notice_Event& notice, Language language);

// The failed step's notice (kReadVersionFailed, ...) and, when the port
// knows why the exchange broke off, the notice that says it: the phone
// unplugged, or a write that could not get out.
std::vector<report::Notice_Event> Failure_Notices(report::Notice step_failed, int code, Io_End end);

}  // namespace text
