// Between the program's UTF-8 texts and the wide-character texts of the Win32
// API.
#pragma once

#include <string>
#include <string_view>

#include "download/display_text.h"

// UTF-8 to UTF-16 (MultiByteToWideChar); an invalid byte becomes U+FFFD.
std::wstring Wide(std::string_view utf8);
// UTF-16 to UTF-8.
std::string Utf8(std::wstring_view wide);

// For bytes that need not be UTF-8 (a phone's version record may hold any
// byte): the shared decoding (download/display_text.h), as UTF-16.
using text::Incomplete_Tail;
std::wstring Display_Text(std::string_view bytes, Incomplete_Tail tail = Incomplete_Tail::kShow);

// Edit controls break lines only at CR LF: every lone LF becomes CR LF.
std::wstring With_Crlf(std::wstring_view text);
// Removes CR and LF (a status panel is one line).
std::wstring Without_Line_Breaks(std::wstring_view text);
