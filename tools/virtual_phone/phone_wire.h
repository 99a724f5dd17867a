// The boot loader's wire as the phone sees it: its bytes and fixed sizes,
// shared by the phone's state machine and the judge of the host.
#pragma once

#include <cstdint>
#include <string>

namespace vphone::wire {

inline constexpr std::uint8_t kSync = 0x58;
inline constexpr std::uint8_t kChallenge = 0xA3;
inline constexpr std::uint8_t kChallengeAnswer = 0x5C;
inline constexpr std::uint8_t kConfirmClose = 0xA5;  // also the host's abort byte
inline constexpr std::uint8_t kCheck = 0x55;
inline constexpr std::uint8_t kCheckAnswer = 0xAA;
inline constexpr std::uint8_t kAck = 0x5A;
inline constexpr std::uint8_t kReadRecord = 0xE0;
inline constexpr std::uint8_t kWriteRecord = 0xE1;
inline constexpr std::uint8_t kDump = 0xD6;
inline constexpr std::uint8_t kRegions = 0xDD;
inline constexpr std::uint8_t kData = 0xDE;
inline constexpr std::uint8_t kClose = 0x60;
inline constexpr std::uint8_t kAccepted = 0x69;  // also the host's "resume" before a resend
inline constexpr std::uint8_t kNotAck = 0x00;    // our answer to an announcement we cannot take

inline constexpr std::uint32_t kSyncCycles = 20;         // cycles of one handshake
inline constexpr std::uint8_t kRegionCount = 2;          // regions of one announcement
inline constexpr std::uint32_t kBlockSize = 0x8000;      // the block size the host announces
inline constexpr std::uint32_t kMaxResends = 3;          // the host aborts at the fourth ask-again
inline constexpr std::size_t kRegionFields = 1 + 4 * 4;  // count byte + two (start, end) pairs

// The commands in the one order the host may give them on a link (0xD6 only
// on a first update), as bits of a set.
inline constexpr std::uint8_t Command_Bit(std::uint8_t command) {
    switch (command) {
        case kReadRecord:
            return 1;
        case kDump:
            return 2;
        case kWriteRecord:
            return 4;
        case kRegions:
            return 8;
        case kData:
            return 16;
        default:
            return 0;
    }
}

// "0x5A"
inline std::string Hex(std::uint32_t value, int digits = 2) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string text = "0x";
    for (int shift = 4 * (digits - 1); shift >= 0; shift -= 4) {
        text += kDigits[(value >> shift) & 0xF];
    }
    return text;
}

}  // namespace vphone::wire
