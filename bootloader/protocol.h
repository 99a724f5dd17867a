// Bytes and time limits of the phone's boot-loader protocol, in one place.
//
// The host always speaks first. Commands are single bytes; the boot loader
// consents with the acknowledgement byte. Integers the host sends are 4 bytes
// little-endian; integers the boot loader sends are 4 bytes big-endian; a data
// block's sum is 2 bytes, high byte first.
#pragma once

#include <cstdint>

namespace boot {

// Command bytes (host to boot loader).
inline constexpr std::uint8_t kSyncCommand = 0x58;      // 'X': opens a synchronisation cycle
inline constexpr std::uint8_t kSyncCheck = 0x55;        // 'U': complement check of a cycle
inline constexpr std::uint8_t kEndLink = 0x60;          // closing byte, no reply
inline constexpr std::uint8_t kReadVersion = 0xE0;      // read the 32-byte version record
inline constexpr std::uint8_t kWriteVersion = 0xE1;     // write the 32-byte version record
inline constexpr std::uint8_t kReadBootLoader = 0xD6;   // dump the boot loader
inline constexpr std::uint8_t kSetRegions = 0xDD;       // announce the two flash regions
inline constexpr std::uint8_t kDownloadRegions = 0xDE;  // send the regions' data

// Other bytes with a fixed meaning.
inline constexpr std::uint8_t kAck = 0x5A;               // 'Z': boot loader consents
inline constexpr std::uint8_t kConfirmChallenge = 0xA3;  // host, after the echo of a command
inline constexpr std::uint8_t kConfirmAnswer = 0x5C;     // boot loader: complement of 0xA3
inline constexpr std::uint8_t kConfirmClose = 0xA5;      // host: ends a confirmation
inline constexpr std::uint8_t kAbort = 0xA5;             // host: gives up on a block
inline constexpr std::uint8_t kSyncAnswer = 0xAA;        // boot loader: complement of 0x55
inline constexpr std::uint8_t kBlockAccepted = 0x69;     // 'i' from the boot loader
inline constexpr std::uint8_t kResume = 0x69;            // 'i' from the host before a resend
inline constexpr std::uint8_t kRefused5 = 0x05;          // block refused for good
inline constexpr std::uint8_t kRefused6 = 0x06;
inline constexpr std::uint8_t kRefused7 = 0x07;
inline constexpr std::uint8_t kRegionCount = 0x02;  // regions announced by 0xDD

// Sizes.
inline constexpr std::uint32_t kDumpBufferSize = 2048;     // receive buffer for dump blocks, bytes
inline constexpr std::uint32_t kMaxDumpBytes = 16u << 20;  // largest dump taken (N times S): 16 MiB
inline constexpr int kSyncCycles = 20;                     // handshake cycles per port
inline constexpr int kSearchPasses = 21;                   // passes of the phone search
inline constexpr int kMaxResends = 3;                // resends of one block before the abort byte
inline constexpr std::uint16_t kListCapacity = 255;  // ports listed per pass

// Time limits in milliseconds: each covers one whole read, however many bytes.
// Kept in a struct so that tests may shrink them; the program always uses
// kProtocolTimeLimits.
struct Time_Limits {
    std::uint32_t search_pause = 100;     // before every pass of the phone search
    std::uint32_t sync_echo = 1000;       // echo of 0x58
    std::uint32_t sync_confirm = 3000;    // 0x5C after 0xA3
    std::uint32_t sync_check = 100;       // 0xAA after 0x55
    std::uint32_t version_ack = 2000;     // 0x5A after 0xE0 / 0xE1 / 0xD6
    std::uint32_t version_record = 2000;  // all 32 bytes of the record
    std::uint32_t dump_header = 200;      // each of N and S
    std::uint32_t dump_block = 20000;     // each dump block
    std::uint32_t regions_ack = 200;      // 0x5A after the announcement
    std::uint32_t download_ack = 2000;    // 0x5A after 0xDE
    std::uint32_t block_size_ack = 1000;  // 0x5A after the block size
    std::uint32_t block_reply = 10000;    // reply to each block
    std::uint32_t resend_ack = 10000;     // 0x5A in the resend procedure
    std::uint32_t final_ack = 120000;     // 0x5A after the last block
};
inline constexpr Time_Limits kProtocolTimeLimits{};

}  // namespace boot
