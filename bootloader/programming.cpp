// Flash programming: announcing the image's two regions (0xDD), sending their
// bytes in blocks with a 16-bit sum each (0xDE), and reporting the bytes sent.
// Result codes: results.h.
//
// A stop requested while an exchange is under way cuts it short: the protocol
// has no byte that ends a block in flight (0xA5 means "give up" only after the
// boot loader's fourth request for a block, and mid-block it is block data),
// so nothing more is written; the caller closes the port.
#include <algorithm>
#include <array>
#include <cstdint>
#include <span>

#include "bootloader/byte_order.h"
#include "bootloader/comport.h"
#include "bootloader/phone_model.h"

namespace {

// Sum of the bytes modulo 65536, high byte first as the boot loader checks it.
std::array<std::uint8_t, 2> Block_Sum(std::span<const std::uint8_t> block) {
    std::uint16_t sum = 0;
    for (const std::uint8_t byte : block)
        sum = static_cast<std::uint16_t>(sum + byte);
    return {static_cast<std::uint8_t>(sum >> 8), static_cast<std::uint8_t>(sum)};
}

}  // namespace

boot::Outcome<boot::Set_Regions_Result> CComport::Set_Regions(const Image_Region& first,
                                                              const Image_Region& second) {
    using Result = boot::Set_Regions_Result;
    Operation_Scope scope(m_port, "Set_Regions");
    if (const Io_Result written = Write_Byte(boot::kSetRegions); !written)
        return Write_Failed(written, Result::kCommandNotWritten);
    if (const Io_Result written = Write_Byte(boot::kRegionCount); !written)
        return Write_Failed(written, Result::kCountNotWritten);
    const std::array<std::pair<std::uint32_t, Result>, 4> fields{{
        {first.Start, Result::kFirstStartNotWritten},
        {first.End, Result::kFirstEndNotWritten},
        {second.Start, Result::kSecondStartNotWritten},
        {second.End, Result::kSecondEndNotWritten},
    }};
    for (const auto& [value, not_written] : fields) {
        if (const Io_Result written = m_port.Write(Little_Endian_32(value)); !written)
            return Write_Failed(written, not_written);
    }
    std::uint8_t answer = 0;
    if (const Io_Result read = Read_Byte(answer, m_limits.regions_ack); !read)
        return Read_Failed(read, Result::kNoAnswer);
    if (answer != boot::kAck)
        return Result::kNotAcknowledged;
    return Result::kOk;
}

boot::Outcome<boot::Download_Result> CComport::Download_Regions(
    const Image_Region& first, const Image_Region& second,
    std::array<const std::uint8_t*, 2> data) {
    using Result = boot::Download_Result;
    Operation_Scope scope(m_port, "Download_Regions");
    const std::array<const Image_Region*, 2> regions{&first, &second};
    for (std::size_t r = 0; r < regions.size(); ++r) {
        if (regions[r]->Length != 0 && data[r] == nullptr)
            return Result::kRegionWithoutData;
    }

    if (const auto result = Command_With_Ack<Result>(boot::kDownloadRegions, m_limits.download_ack);
        result != Result::kOk) {
        return result;
    }
    std::uint8_t answer = 0;
    if (const Io_Result written = m_port.Write(Little_Endian_32(kPhoneModel.block_size)); !written)
        return Write_Failed(written, Result::kBlockSizeNotWritten);
    if (const Io_Result read = Read_Byte(answer, m_limits.block_size_ack); !read)
        return Read_Failed(read, Result::kNoBlockSizeAnswer);
    if (answer != boot::kAck)
        return Result::kBlockSizeNotAcknowledged;

    // Blocks are numbered from 1 across both regions for the trace; a block
    // sent again keeps its number.
    std::uint32_t block_number = 1;
    for (std::size_t r = 0; r < regions.size(); ++r) {
        const std::uint32_t length = regions[r]->Length;
        std::uint32_t offset = 0;
        int resends = 0;
        while (offset < length) {
            // The transfer goes on across blocks: a stop between two of them
            // still cuts it short.
            const Operation_Part block_part(m_port, "block", block_number);
            // Written straight from the region's buffer, in one write per block.
            const std::span<const std::uint8_t> block(
                data[r] + offset, std::min(length - offset, kPhoneModel.block_size));
            // A failed block write sends no sum; the boot loader's reply (or
            // its silence) then decides what follows. A write of the block or
            // of its sum that passed its deadline or was stopped ends the
            // transfer at once: no reply is coming to wait for.
            Io_Result written = m_port.Write(block);
            if (written)
                written = m_port.Write(Block_Sum(block));
            if (written.end == Io_End::kTimedOut || written.end == Io_End::kInterrupted)
                return Write_Failed(written, Result::kNoBlockReply);

            std::uint8_t reply = 0;
            if (const Io_Result read = Read_Byte(reply, m_limits.block_reply); !read)
                return Read_Failed(read, Result::kNoBlockReply);
            switch (reply) {
                case boot::kBlockAccepted:
                    resends = 0;
                    ++block_number;
                    offset += static_cast<std::uint32_t>(block.size());
                    Progress_Step(block.size());
                    continue;
                case boot::kRefused5:
                    return Result::kRefused05;
                case boot::kRefused6:
                    return Result::kRefused06;
                case boot::kRefused7:
                    return Result::kRefused07;
                default:
                    break;
            }
            // Any other reply asks for the block again. The fourth time the
            // host gives up with the abort byte, also when a stop is pending:
            // this is the one point where the boot loader takes it as such.
            if (resends == boot::kMaxResends) {
                const Stop_Signal::Unstoppable abort_byte(m_port.Stop_Request());
                const Io_Result abort = Write_Byte(boot::kAbort);
                if (!abort)
                    return {Result::kAbortNotWritten, abort.end};
                return Result::kAborted;
            }
            ++resends;
            if (const Io_Result read = Read_Byte(answer, m_limits.resend_ack); !read)
                return Read_Failed(read, Result::kAborted);
            if (answer != boot::kAck)
                return Result::kResendNotAcknowledged;
            if (const Io_Result written = Write_Byte(boot::kResume); !written)
                return Write_Failed(written, Result::kResumeNotWritten);
        }
    }

    // The boot loader may take up to two minutes after the last block.
    if (const Io_Result read = Read_Byte(answer, m_limits.final_ack); !read)
        return Read_Failed(read, Result::kNoFinalAnswer);
    if (answer != boot::kAck)
        return Result::kFinalNotAcknowledged;
    return Result::kOk;
}

bool CComport::Progress_Init(std::uint64_t total) {
    m_progress_total = total;
    m_progress_done = 0;
    if (m_report != nullptr)
        m_report->On_Bytes(0, total);
    return true;
}

bool CComport::Progress_Step(std::uint64_t bytes) {
    // With nothing to report to there is no end to reach, as with no bar.
    if (m_report == nullptr)
        return true;
    m_progress_done += bytes;
    m_report->On_Bytes(m_progress_done, m_progress_total);
    return m_progress_done < m_progress_total;
}
