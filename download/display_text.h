// How the byte texts of the message area, the version fields and the status
// panels become the characters a window shows, for every window alike.
#pragma once

#include <string>
#include <string_view>

namespace text {

// Decodes UTF-8. A byte that does not start or continue a valid UTF-8
// sequence (overlong forms and surrogates included) is shown as its Latin-1
// character: a phone's version record may hold any byte. With
// Incomplete_Tail::kHold an incomplete sequence at the very end is held back,
// so that a character appended one byte at a time appears whole once its last
// byte came; with kShow its bytes are shown as Latin-1 like stray bytes.
enum class Incomplete_Tail { kHold, kShow };
std::u32string Display_Characters(std::string_view bytes,
                                  Incomplete_Tail tail = Incomplete_Tail::kShow);

}  // namespace text
