// Builders of the terminal's texts; no output of their own.
#include "cli/text_format.h"

#include <cstdio>

namespace cli {

std::string Elapsed_Text(long long seconds) {
    if (seconds < 0)
        seconds = 0;
    const long long hours = seconds / 3600;
    const long long minutes = seconds / 60 - hours * 60;
    return std::to_string(hours) + ":" + std::to_string(minutes) + ":" +
           std::to_string(seconds % 60);
}

std::string Progress_Text(std::uint64_t done, std::uint64_t total, double elapsed_seconds) {
    if (done > total)
        done = total;
    const unsigned percent = total == 0 ? 100U : static_cast<unsigned>((done * 100) / total);
    std::string line = std::to_string(done) + "/" + std::to_string(total) + " bytes  " +
                       std::to_string(percent) + "%";
    // Below a tenth of a second the rate is noise; without bytes it is zero
    // and the time left infinite.
    if (elapsed_seconds < 0.1 || done == 0)
        return line + "  -- KiB/s  -- left";
    const double rate = static_cast<double>(done) / elapsed_seconds;
    const double left = static_cast<double>(total - done) / rate;
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.1f", rate / 1024.0);
    return line + "  " + buffer + " KiB/s  " + Elapsed_Text(static_cast<long long>(left + 0.5)) +
           " left";
}

std::string Printable_Text(std::span<const std::uint8_t> bytes) {
    std::string text;
    text.reserve(bytes.size());
    for (const std::uint8_t byte : bytes) {
        text.push_back(byte >= 0x20 && byte < 0x7F ? static_cast<char>(byte) : '.');
    }
    return text;
}

namespace {
// Length of the well-formed UTF-8 character of two or more bytes at text[at],
// or 0 when there is none.
std::size_t Utf8_Length(std::string_view text, std::size_t at) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(at);
    std::size_t length = 0;
    unsigned char low = 0x80, high = 0xBF;  // allowed range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0)
            low = 0xA0;
        if (lead == 0xED)
            high = 0x9F;  // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0)
            low = 0x90;
        if (lead == 0xF4)
            high = 0x8F;
    } else {
        return 0;
    }
    if (at + length > text.size())
        return 0;
    if (byte(at + 1) < low || byte(at + 1) > high)
        return 0;
    for (std::size_t i = 2; i < length; ++i) {
        if (byte(at + i) < 0x80 || byte(at + i) > 0xBF)
            return 0;
    }
    return length;
}
}  // namespace

std::string Displayable_Text(std::string_view text) {
    std::string shown;
    shown.reserve(text.size());
    for (std::size_t at = 0; at < text.size();) {
        const auto byte = static_cast<unsigned char>(text[at]);
        if (byte >= 0x20 && byte < 0x7F) {
            shown.push_back(text[at++]);
        } else if (const std::size_t length = Utf8_Length(text, at); length != 0) {
            shown.append(text.substr(at, length));
            at += length;
        } else {
            shown.push_back('.');
            ++at;
        }
    }
    return shown;
}

std::string Hex_Text(std::span<const std::uint8_t> bytes) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(bytes.size() * 3);
    for (const std::uint8_t byte : bytes) {
        if (!text.empty())
            text.push_back(' ');
        text.push_back(kDigits[byte >> 4]);
        text.push_back(kDigits[byte & 0x0F]);
    }
    return text;
}

}  // namespace cli
