// Where the first-run dump goes on Linux and other POSIX systems: a
// directory of the user's own, in a file named after the port.
#include <algorithm>
#include <cstdint>
#include <string_view>

#include "bootloader/phone_model.h"
#include "download/dump_places.h"
#include "platform/files.h"

namespace {

constexpr char kDirectoryName[] = "flashtool";
// The port's part of a dump name, at most: with the hash and a numbered
// copy's ".999" the name stays far below any file system's limit.
constexpr std::size_t kMaxReadablePart = 64;

bool Is_Name_Character(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
           c == '_' || c == '-';
}

// Characters of a plain device name, kept as they are. Neither '-' nor '.'
// is one, so a plain name can never look like a hashed one or like a
// numbered copy.
bool Is_Plain_Character(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

// FNV-1a, 64 bits: a fixed, short fingerprint of the whole path.
std::uint64_t Path_Hash(std::string_view text) {
    std::uint64_t hash = 0xcbf29ce484222325ULL;
    for (const char c : text) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 0x100000001b3ULL;
    }
    return hash;
}

std::string Hex_Of(std::uint64_t value) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string hex(16, '0');
    for (std::size_t i = hex.size(); i-- > 0; value >>= 4)
        hex[i] = kDigits[value & 0xF];
    return hex;
}

}  // namespace

std::vector<std::string> Dump_Directories() {
    std::vector<std::string> directories;
    for (const std::string& base : {platform::Runtime_Directory(), platform::Cache_Directory()}) {
        if (!base.empty())
            directories.push_back(base + "/" + kDirectoryName);
    }
    return directories;
}

std::string Dump_File_Name(const std::string& device_path) {
    if (device_path.empty())
        return std::string(kPhoneModel.dump_name);
    const std::string_view port = std::string_view(device_path).starts_with("/dev/")
                                      ? std::string_view(device_path).substr(5)
                                      : std::string_view(device_path);
    if (device_path.starts_with("/dev/") && !port.empty() && port.size() <= kMaxReadablePart &&
        std::all_of(port.begin(), port.end(), Is_Plain_Character)) {
        return std::string(kPhoneModel.dump_name) + "-" + std::string(port);
    }
    // Any other path loses characters or length on its way into a name; the
    // hash of the whole path keeps two such ports apart.
    std::string readable(port.substr(0, kMaxReadablePart));
    for (char& c : readable) {
        if (!Is_Name_Character(c))
            c = c == '/' ? '-' : '_';
    }
    return std::string(kPhoneModel.dump_name) + "-" + readable + "-" +
           Hex_Of(Path_Hash(device_path));
}
