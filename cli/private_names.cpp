// The replacing itself is the same everywhere; only where the names come
// from differs by system.
#include "cli/private_names.h"

#include <algorithm>

namespace cli {
namespace {

bool Name_Character(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
           c == '-' || c == '.';
}

char Lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string Lowered(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), Lower);
    return text;
}

// Each from in text as to; words_only: only where from stands as a word of
// its own (a user "ann" is not taken out of "channel"); any_case: found in
// any case of its ASCII letters.
std::string Replace_All(std::string text, const std::string& from, const std::string& to,
                        bool words_only, bool any_case) {
    if (from.empty())
        return text;
    const std::string wanted = any_case ? Lowered(from) : from;
    std::string seen = any_case ? Lowered(text) : text;
    for (std::size_t at = seen.find(wanted); at != std::string::npos;) {
        const std::size_t end = at + from.size();
        if (words_only && ((at > 0 && Name_Character(text[at - 1])) ||
                           (end < text.size() && Name_Character(text[end])))) {
            at = seen.find(wanted, at + 1);
            continue;
        }
        text.replace(at, from.size(), to);
        seen.replace(at, from.size(), to);
        at = seen.find(wanted, at + to.size());
    }
    return text;
}

std::string Without_Trailing(std::string path, const std::string& separators) {
    while (path.size() > 1 && separators.find(path.back()) != std::string::npos)
        path.pop_back();
    return path;
}

}  // namespace

Private_Names Posix_Private_Names(const std::string& home, const std::string& user) {
    Private_Names names;
    const std::string folder = Without_Trailing(home, "/");
    if (folder.size() >= 2)
        names.homes.push_back(folder);
    names.user = user;
    return names;
}

Private_Names Windows_Private_Names(const std::string& profile, const std::string& user) {
    Private_Names names;
    names.any_case = true;
    std::string folder = Without_Trailing(profile, "\\/");
    // A drive's root ("C:") as the profile would turn every path into "~".
    if (folder.size() <= 2)
        folder.clear();
    std::replace(folder.begin(), folder.end(), '/', '\\');
    if (!folder.empty()) {
        std::string doubled;
        for (const char c : folder)
            doubled += c == '\\' ? std::string("\\\\") : std::string(1, c);
        std::string forward = folder;
        std::replace(forward.begin(), forward.end(), '\\', '/');
        names.homes = {doubled, folder, forward};
    }
    names.user = user;
    return names;
}

std::string Without_Private(std::string text, const Private_Names& names) {
    for (const std::string& home : names.homes)
        text = Replace_All(std::move(text), home, "~", false, names.any_case);
    text = Replace_All(std::move(text), names.user, "USER", true, names.any_case);
    return text;
}

}  // namespace cli
