// How ports and doctor describe the device behind a port, from what the
// system's listing found: "USB 1d6b:0104, serial M418-0001, Corvel M418 boot
// loader, driver cdc_acm, at usb 1-1:1.0". The device's own texts are escaped.
#pragma once

#include <string>

#include "serial/port_list.h"

namespace cli {

// Empty when nothing is known of the device.
std::string Identity_Text(const Port_Identity& identity);

}  // namespace cli
