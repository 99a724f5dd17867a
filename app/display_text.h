// How the byte texts of the message area, the version fields and the status
// panels become the characters on screen (download/display_text.h), as Qt
// text.
#pragma once

#include <QString>
#include <string_view>

#include "download/display_text.h"

using text::Incomplete_Tail;
QString Display_Text(std::string_view bytes, Incomplete_Tail tail = Incomplete_Tail::kShow);
