// Flash programming: announcing the image's two regions (0xDD), sending their
// bytes in blocks with a 16-bit sum each (0xDE), and moving the progress bar.
//
// Result codes of Set_Regions: 1 0xDD, 2 the region count, 3 and 4 the first
// region's start and end, 5 and 6 the second region's start and end not
// written; 8 no answer; 9 answer not 0x5A.
//
// Result codes of Download_Regions: 1 0xDE not written; 2 no answer, 3 not
// 0x5A; 4 block size not written; 5 no answer, 6 not 0x5A; 7 a region with
// bytes but no buffer (nothing is sent); 8 no reply to a block; 9, 10, 11 the
// block refused with 0x05, 0x06, 0x07; 12 a block asked for a fourth time and
// the abort byte not written; 13 a block asked for a fourth time and the abort
// byte sent, or no 0x5A in the resend procedure; 14 that byte not 0x5A; 15 the
// resume byte not written; 19 no final answer; 20 final answer not 0x5A.
#include <algorithm>
#include <array>
#include <cstdint>
#include <span>

#include "serial/comport.h"

namespace {

std::array<std::uint8_t, 4> Little_Endian_32(std::uint32_t value) {
    return {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
            static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)};
}

// Sum of the bytes modulo 65536, high byte first as the boot loader checks it.
std::array<std::uint8_t, 2> Block_Sum(std::span<const std::uint8_t> block) {
    std::uint16_t sum = 0;
    for (const std::uint8_t byte : block)
        sum = static_cast<std::uint16_t>(sum + byte);
    return {static_cast<std::uint8_t>(sum >> 8), static_cast<std::uint8_t>(sum)};
}

}  // namespace

int CComport::Set_Regions(const Image_Region& first, const Image_Region& second) {
    Operation_Scope scope(*this, "Set_Regions");
    if (!Write_Byte(boot::kSetRegions))
        return 1;
    if (!Write_Byte(boot::kRegionCount))
        return 2;
    if (!Write(Little_Endian_32(first.Start)))
        return 3;
    if (!Write(Little_Endian_32(first.End)))
        return 4;
    if (!Write(Little_Endian_32(second.Start)))
        return 5;
    if (!Write(Little_Endian_32(second.End)))
        return 6;
    std::uint8_t answer = 0;
    if (!Read_Byte(answer, m_limits.regions_ack))
        return 8;
    if (answer != boot::kAck)
        return 9;
    return 0;
}

int CComport::Download_Regions(const Image_Region& first, const Image_Region& second,
                               std::array<const std::uint8_t*, 2> data) {
    Operation_Scope scope(*this, "Download_Regions");
    const std::array<const Image_Region*, 2> regions{&first, &second};
    for (std::size_t r = 0; r < regions.size(); ++r) {
        if (regions[r]->Length != 0 && data[r] == nullptr)
            return 7;
    }

    if (const int result = Command_With_Ack(boot::kDownloadRegions, m_limits.download_ack))
        return result;
    std::uint8_t answer = 0;
    if (!Write(Little_Endian_32(boot::kBlockSize)))
        return 4;
    if (!Read_Byte(answer, m_limits.block_size_ack))
        return 5;
    if (answer != boot::kAck)
        return 6;

    for (std::size_t r = 0; r < regions.size(); ++r) {
        const std::uint32_t length = regions[r]->Length;
        std::uint32_t offset = 0;
        int resends = 0;
        while (offset < length) {
            // Written straight from the region's buffer, in one write per block.
            const std::span<const std::uint8_t> block(data[r] + offset,
                                                      std::min(length - offset, boot::kBlockSize));
            // A failed block write sends no sum; the boot loader's reply (or
            // its silence) then decides what follows.
            if (Write(block))
                Write(Block_Sum(block));

            std::uint8_t reply = 0;
            if (!Read_Byte(reply, m_limits.block_reply))
                return 8;
            switch (reply) {
                case boot::kBlockAccepted:
                    resends = 0;
                    offset += static_cast<std::uint32_t>(block.size());
                    Progress_Step(static_cast<int>(block.size()));
                    continue;
                case boot::kRefused5:
                    return 9;
                case boot::kRefused6:
                    return 10;
                case boot::kRefused7:
                    return 11;
                default:
                    break;
            }
            // Any other reply asks for the block again.
            if (resends == boot::kMaxResends)
                return Write_Byte(boot::kAbort) ? 13 : 12;
            ++resends;
            if (!Read_Byte(answer, m_limits.resend_ack))
                return 13;
            if (answer != boot::kAck)
                return 14;
            if (!Write_Byte(boot::kResume))
                return 15;
        }
    }

    // The boot loader may take up to two minutes after the last block.
    if (!Read_Byte(answer, m_limits.final_ack))
        return 19;
    if (answer != boot::kAck)
        return 20;
    return 0;
}

bool CComport::Progress_Init(int total) {
    if (m_progress_bar == nullptr)
        return true;
    m_progress_bar->set_minimum(0);
    m_progress_bar->set_maximum(total);
    m_progress_bar->set_step(m_progress_bar->maximum() / 20);
    m_progress_bar->set_position(0);
    return true;
}

bool CComport::Progress_Step(int bytes) {
    if (m_progress_bar == nullptr)
        return true;
    // Worked out here rather than read back from the bar, since a bar may
    // ignore a position beyond its maximum instead of clamping it.
    const long long next = static_cast<long long>(m_progress_bar->position()) + bytes;
    if (next >= m_progress_bar->maximum()) {
        m_progress_bar->set_position(0);
        return false;
    }
    m_progress_bar->set_position(static_cast<int>(next));
    return true;
}
