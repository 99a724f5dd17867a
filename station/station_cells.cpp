// A station row's short texts: see station_cells.h.
#include "station/station_cells.h"

#include <cstdio>

#include "download/display_text.h"

std::string Identity_Cell(const Port_Identity& identity) {
    std::string cell;
    const auto add = [&cell](const std::string& part) {
        if (part.empty())
            return;
        if (!cell.empty())
            cell += ' ';
        cell += text::Displayable_Text(part);
    };
    if (identity.Is_Usb())
        add(identity.usb_vendor_id + ":" + identity.usb_product_id);
    add(identity.usb_serial);
    if (!identity.usb_path.empty())
        add("@" + identity.usb_path);
    if (cell.empty())
        add(identity.driver);
    return cell;
}

std::string Rate_Cell(std::uint64_t bytes, double seconds) {
    if (bytes == 0 || seconds < 0.1)
        return {};
    const double per_second = static_cast<double>(bytes) / seconds;
    char text[32];
    if (per_second >= 1024.0 * 1024.0)
        std::snprintf(text, sizeof text, "%.1f MiB/s", per_second / (1024.0 * 1024.0));
    else
        std::snprintf(text, sizeof text, "%.1f KiB/s", per_second / 1024.0);
    return text;
}
