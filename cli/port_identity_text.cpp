// The one-line description of a port's device.
#include "cli/port_identity_text.h"

#include "cli/text_format.h"

namespace cli {

std::string Identity_Text(const Port_Identity& identity) {
    std::string text;
    const auto add = [&text](const std::string& part) {
        if (part.empty())
            return;
        if (!text.empty())
            text += ", ";
        text += part;
    };
    if (identity.Is_Usb()) {
        add("USB " + Displayable_Text(identity.usb_vendor_id) + ":" +
            Displayable_Text(identity.usb_product_id));
        if (!identity.usb_serial.empty())
            add("serial " + Displayable_Text(identity.usb_serial));
        std::string names = identity.manufacturer;
        if (!identity.product.empty())
            names += (names.empty() ? "" : " ") + identity.product;
        add(Displayable_Text(names));
    }
    if (!identity.driver.empty())
        add("driver " + Displayable_Text(identity.driver));
    if (!identity.usb_path.empty())
        add("at usb " + Displayable_Text(identity.usb_path));
    return text;
}

}  // namespace cli
