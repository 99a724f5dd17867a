// A station row's short texts: see station_cells.h.
#include "station/station_cells.h"

#include <cstdio>

#include "download/display_text.h"

namespace {

// Parts joined by a separator, the empty ones left out.
class Joined {
  public:
    explicit Joined(const char* separator) : m_separator(separator) {}
    void Add(const std::string& part) {
        if (part.empty())
            return;
        if (!m_text.empty())
            m_text += m_separator;
        m_text += part;
    }
    const std::string& Text() const { return m_text; }

  private:
    const char* m_separator;
    std::string m_text;
};

std::string Shown(const std::string& text) {
    return text::Displayable_Text(text);
}

}  // namespace

std::string Identity_Text(const Port_Identity& identity) {
    Joined text(", ");
    if (identity.Is_Usb()) {
        text.Add("USB " + Shown(identity.usb_vendor_id) + ":" + Shown(identity.usb_product_id));
        if (!identity.usb_serial.empty())
            text.Add("serial " + Shown(identity.usb_serial));
        std::string names = identity.manufacturer;
        if (!identity.product.empty())
            names += (names.empty() ? "" : " ") + identity.product;
        text.Add(Shown(names));
    }
    if (!identity.driver.empty())
        text.Add("driver " + Shown(identity.driver));
    if (!identity.usb_path.empty())
        text.Add("at usb " + Shown(identity.usb_path));
    return text.Text();
}

std::string Identity_Cell(const Port_Identity& identity) {
    Joined cell(" ");
    if (identity.Is_Usb())
        cell.Add(Shown(identity.usb_vendor_id + ":" + identity.usb_product_id));
    cell.Add(Shown(identity.usb_serial));
    if (!identity.usb_path.empty())
        cell.Add(Shown("@" + identity.usb_path));
    if (cell.Text().empty())
        cell.Add(Shown(identity.driver));
    return cell.Text();
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
