// The virtual phone's flash file, as the Wine tests read it to compare the
// phone's flash with the image: "VPHFLASH", region count, then per region
// start, announced length, accepted count and the accepted bytes (all u32
// little-endian).
#pragma once

#include <chrono>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace phone_flash {

struct Region {
    std::uint32_t start = 0;
    std::vector<std::uint8_t> bytes;
};

inline std::uint32_t Le32(const std::vector<std::uint8_t>& data, std::size_t at) {
    return data[at] | (data[at + 1] << 8) | (data[at + 2] << 16) |
           (static_cast<std::uint32_t>(data[at + 3]) << 24);
}

inline std::optional<std::vector<Region>> Read(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    const std::vector<std::uint8_t> data{std::istreambuf_iterator<char>(file), {}};
    if (data.size() < 12 || std::string(data.begin(), data.begin() + 8) != "VPHFLASH") {
        return std::nullopt;
    }
    std::vector<Region> regions(Le32(data, 8));
    std::size_t at = 12;
    for (Region& region : regions) {
        if (at + 12 > data.size())
            return std::nullopt;
        region.start = Le32(data, at);
        const std::uint32_t accepted = Le32(data, at + 8);
        at += 12;
        if (at + accepted > data.size())
            return std::nullopt;
        region.bytes.assign(data.begin() + static_cast<std::ptrdiff_t>(at),
                            data.begin() + static_cast<std::ptrdiff_t>(at + accepted));
        at += accepted;
    }
    return regions;
}

// The flash once it holds two regions and the second one has second_length
// bytes: the phone saves after each accepted block, so give the last save a
// moment to land.
inline std::optional<std::vector<Region>> Read_Complete(const std::string& path,
                                                        std::size_t second_length) {
    std::optional<std::vector<Region>> flash;
    for (int attempt = 0; attempt < 50; ++attempt) {
        flash = Read(path);
        if (flash && flash->size() == 2 && flash->at(1).bytes.size() == second_length)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return flash;
}

}  // namespace phone_flash
