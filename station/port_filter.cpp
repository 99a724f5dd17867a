// Which ports a station takes, and the slots file: see port_filter.h.
#include "station/port_filter.h"

#include <algorithm>
#include <cctype>
#include <fstream>

namespace {

// A slots file is a few lines for each socket of a bench; anything much
// larger is not one.
constexpr std::streamsize kMaximumSlotsFile = 1 << 20;

std::string Lower(std::string_view text) {
    std::string lower(text);
    for (char& c : lower)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return lower;
}

bool Is_Hex4(std::string_view text) {
    return text.size() == 4 && std::all_of(text.begin(), text.end(), [](char c) {
               return std::isxdigit(static_cast<unsigned char>(c)) != 0;
           });
}

std::string_view Trimmed(std::string_view text) {
    const auto space = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
    while (!text.empty() && space(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && space(text.back()))
        text.remove_suffix(1);
    return text;
}

}  // namespace

std::optional<Usb_Match> Parse_Usb_Match(std::string_view text) {
    const std::size_t colon = text.find(':');
    if (colon == std::string_view::npos)
        return std::nullopt;
    const std::string_view vendor = text.substr(0, colon);
    const std::string_view product = text.substr(colon + 1);
    if (!Is_Hex4(vendor) || (product != "*" && !Is_Hex4(product)))
        return std::nullopt;
    return Usb_Match{Lower(vendor), product == "*" ? std::string() : Lower(product)};
}

Slots_Parse Parse_Slots(std::string_view text) {
    Slots_Parse parsed;
    int number = 0;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        ++number;
        if (const std::size_t comment = line.find('#'); comment != std::string_view::npos)
            line = line.substr(0, comment);
        line = Trimmed(line);
        if (line.empty())
            continue;
        const std::size_t equals = line.find('=');
        const std::string_view path =
            Trimmed(line.substr(0, equals == std::string_view::npos ? 0 : equals));
        const std::string_view label = equals == std::string_view::npos
                                           ? std::string_view()
                                           : Trimmed(line.substr(equals + 1));
        const auto refuse = [&](std::string why) {
            parsed.bad_line = number;
            parsed.error = std::move(why);
            return parsed;
        };
        if (equals == std::string_view::npos || path.empty() || label.empty())
            return refuse("not USB-PATH = LABEL");
        if (path.find_first_of(" \t") != std::string_view::npos)
            return refuse("a USB path has no spaces");
        const std::string device(Usb_Device_Path(std::string(path)));
        if (std::any_of(parsed.sockets.begin(), parsed.sockets.end(),
                        [&](const Port_Slot& slot) { return slot.usb_path == device; }))
            return refuse("USB path " + device + " is given twice");
        parsed.sockets.push_back({device, std::string(label)});
    }
    return parsed;
}

Slots_Parse Read_Slots_File(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    // Read up to one byte past the limit, never the whole of whatever was
    // named (a device such as /dev/zero never ends).
    std::string text(static_cast<std::size_t>(kMaximumSlotsFile) + 1, '\0');
    if (file)
        file.read(text.data(), static_cast<std::streamsize>(text.size()));
    if (!file && !file.eof()) {
        Slots_Parse failed;
        failed.error = "it cannot be read";
        return failed;
    }
    text.resize(static_cast<std::size_t>(file.gcount()));
    if (static_cast<std::streamsize>(text.size()) > kMaximumSlotsFile) {
        Slots_Parse failed;
        failed.error = "it is too large for a slots file";
        return failed;
    }
    return Parse_Slots(text);
}

std::string Usb_Device_Path(const std::string& usb_path) {
    return usb_path.substr(0, usb_path.find(':'));
}

const char* Port_Skip_Name(Port_Skip skip) {
    switch (skip) {
        case Port_Skip::kNone:
            return "";
        case Port_Skip::kNotUsb:
            return "not_usb";
        case Port_Skip::kNotMatched:
            return "not_matched";
        case Port_Skip::kNotInSlots:
            return "not_in_slots";
    }
    return "";
}

Port_Verdict Judge_Port(const Port_Filter& filter, const Port_Candidate& port, bool named) {
    Port_Verdict verdict;
    const Port_Identity& identity = port.identity;
    if (identity.Is_Usb())
        verdict.usb_id = Lower(identity.usb_vendor_id + ":" + identity.usb_product_id);
    const std::string device = Usb_Device_Path(identity.usb_path);
    for (const Port_Slot& slot : filter.sockets) {
        if (!device.empty() && slot.usb_path == device)
            verdict.slot = slot.label;
    }
    if (named)
        return verdict;
    const auto skip = [&verdict](Port_Skip why) {
        verdict.taken = false;
        verdict.skip = why;
        return verdict;
    };
    // A port the system tells nothing of (Windows' listing) cannot be told
    // from a phone's: it is taken, unless USB numbers are asked for.
    if (!identity.Is_Usb() && ((filter.usb_only && identity.Known()) || !filter.match.empty()))
        return skip(Port_Skip::kNotUsb);
    if (!filter.match.empty() &&
        std::none_of(filter.match.begin(), filter.match.end(), [&](const Usb_Match& match) {
            return Lower(identity.usb_vendor_id) == match.vendor_id &&
                   (match.product_id.empty() || Lower(identity.usb_product_id) == match.product_id);
        }))
        return skip(Port_Skip::kNotMatched);
    if (filter.only_slots && verdict.slot.empty())
        return skip(Port_Skip::kNotInSlots);
    return verdict;
}
