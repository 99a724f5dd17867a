// Texts of a phone's device and row, the same in every view of a station
// (the command's table and lines, the station window, the phone's log) and
// in the command's ports and doctor.
#pragma once

#include <cstdint>
#include <string>

#include "serial/port_list.h"

// The device in a line, as the command's ports, doctor and station lines and
// a phone's log describe it: "USB 1d6b:0104, serial M418-0001, Corvel M418
// boot loader, driver cdc_acm, at usb 1-1:1.0". Empty when nothing is known
// of the device; escaped, as every part comes from the device.
std::string Identity_Text(const Port_Identity& identity);

// The device in a few words: "1d6b:0104 M418-0001 @1-1:1.0" (USB numbers,
// serial number, where on the bus), else its driver; empty when nothing is
// known. Escaped: every part comes from the device.
std::string Identity_Cell(const Port_Identity& identity);

// "11.4 KiB/s", "2.3 MiB/s"; empty while no byte has gone or before a tenth
// of a second has passed.
std::string Rate_Cell(std::uint64_t bytes, double seconds);
