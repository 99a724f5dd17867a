// Builders of the terminal's texts; no output of their own.
#include "cli/text_format.h"

#include <algorithm>
#include <cstdio>
#include <limits>

#include "download/clock_text.h"

namespace cli {

std::string Elapsed_Text(long long seconds) {
    // The window's own text, for the seconds an int holds (68 years).
    return clock_text::Elapsed_Text(
        static_cast<int>(std::clamp<long long>(seconds, 0, std::numeric_limits<int>::max())));
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

std::string Record_Text(std::span<const std::uint8_t> bytes) {
    while (!bytes.empty() && bytes.back() == 0)
        bytes = bytes.first(bytes.size() - 1);
    return Displayable_Text(
        std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
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
