// Between the program's UTF-8 texts and the wide-character texts of the Win32
// API. The window model hands the window valid UTF-8 only.
#pragma once

#include <string>
#include <string_view>

// UTF-8 to UTF-16 (MultiByteToWideChar); an invalid byte becomes U+FFFD.
std::wstring Wide(std::string_view utf8);
// UTF-16 to UTF-8.
std::string Utf8(std::wstring_view wide);

// Edit controls break lines only at CR LF: every lone LF becomes CR LF.
std::wstring With_Crlf(std::wstring_view text);
