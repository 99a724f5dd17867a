// Records shared by the image loader, the boot-loader protocol and the window.
#pragma once

#include <array>
#include <cstdint>

// The 32-byte version record: prefix (0-15), version code (16-19), language
// (20-23), one checked byte (24), five-digit version number (25-29), two spare
// bytes. Not terminated.
inline constexpr std::size_t kVersionRecordSize = 32;
using Version_Record = std::array<std::uint8_t, kVersionRecordSize>;

// One flash region of an image: first and last address (inclusive) and the
// byte count End - Start + 1, all unsigned 32-bit as on the wire.
struct Image_Region {
    std::uint32_t Start = 0;
    std::uint32_t End = 0;
    std::uint32_t Length = 0;
};
