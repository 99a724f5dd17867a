// Records shared by the image loader, the boot-loader protocol and the window.
#pragma once

#include <array>
#include <cstdint>

#include "bootloader/phone_model.h"

// The phone's version record, not terminated; its fields are the phone
// model's (phone_model.h).
using Version_Record = std::array<std::uint8_t, kPhoneModel.record.size>;

// One flash region of an image: first and last address (inclusive) and the
// byte count End - Start + 1, all unsigned 32-bit as on the wire.
struct Image_Region {
    std::uint32_t Start = 0;
    std::uint32_t End = 0;
    std::uint32_t Length = 0;
};
