// Linux_Usb_Path: a Windows location path read as a sysfs USB path.
#include "serial/usb_location_path.h"

#include <cctype>
#include <vector>

namespace serial {
namespace {

// "USB(12)" with name "USB": 12; nothing for any other text. Numbers are
// decimal, at most three digits (a hub has at most 255 ports).
std::optional<int> Number_In(std::string_view part, std::string_view name) {
    if (part.size() < name.size() + 3 || part.back() != ')' || part[name.size()] != '(')
        return std::nullopt;
    for (std::size_t i = 0; i < name.size(); ++i) {
        if (std::toupper(static_cast<unsigned char>(part[i])) != name[i])
            return std::nullopt;
    }
    const std::string_view digits = part.substr(name.size() + 1, part.size() - name.size() - 2);
    if (digits.empty() || digits.size() > 3)
        return std::nullopt;
    int number = 0;
    for (const char c : digits) {
        if (std::isdigit(static_cast<unsigned char>(c)) == 0)
            return std::nullopt;
        number = number * 10 + (c - '0');
    }
    return number;
}

std::vector<std::string_view> Parts_Of(std::string_view location) {
    std::vector<std::string_view> parts;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = location.find('#', start);
        parts.push_back(location.substr(start, end - start));
        if (end == std::string_view::npos)
            return parts;
        start = end + 1;
    }
}

}  // namespace

std::optional<std::string> Linux_Usb_Path(std::string_view location) {
    const std::vector<std::string_view> parts = Parts_Of(location);
    std::size_t at = 0;
    std::optional<int> root;
    while (at < parts.size() && !(root = Number_In(parts[at], "USBROOT")))
        ++at;
    if (!root)
        return std::nullopt;
    std::string path = std::to_string(*root + 1);
    int ports = 0;
    for (++at; at < parts.size(); ++at) {
        const std::optional<int> port = Number_In(parts[at], "USB");
        if (!port)
            break;
        if (*port == 0)
            return std::nullopt;  // ports count from 1
        path += (ports++ == 0 ? "-" : ".") + std::to_string(*port);
    }
    if (ports == 0)
        return std::nullopt;
    if (at < parts.size()) {
        const std::optional<int> interface = Number_In(parts[at], "USBMI");
        if (!interface || at + 1 != parts.size())
            return std::nullopt;
        path += ":1." + std::to_string(*interface);
    }
    return path;
}

}  // namespace serial
