// The results of the boot-loader operations, one enum per operation. The
// numbers are the ones the user sees in "…,error is N" and the phone's service
// staff know; 0 is success everywhere.
//
// Two results are shared by every data operation: a write that did not finish
// within its deadline (21), and an exchange broken off because a stop was
// requested (22; nothing more is written, see CComport::Exchange_Cut). Every
// data operation that opens with a command byte shares its first three too:
// the command not written (1), no answer (2), not the acknowledgement (3).
// The checks after the enums hold each to these numbers.
//
// A data operation returns its result with how the read or write that
// decided it ended (an Outcome), so that a caller can tell a silent phone
// from an unplugged one.
#pragma once

#include "serial/io_end.h"

namespace boot {

inline constexpr int kWriteTimedOutCode = 21;
inline constexpr int kStoppedCode = 22;

// 0xE0: the phone's version record.
enum class Read_Version_Result : int {
    kOk = 0,
    kCommandNotWritten = 1,
    kNoAnswer = 2,
    kNotAcknowledged = 3,
    kRecordIncomplete = 4,  // the 32 bytes did not all arrive
    kWriteTimedOut = kWriteTimedOutCode,
    kStopped = kStoppedCode,
};

// The phone's record against the image's.
enum class Compare_Result : int {
    kGoOn = 0,  // a notice may have been printed
    kFirstRun = 1,
    kVersionCodeDiffers = 2,
    kLanguageDiffers = 3,
    kCheckedByteDiffers = 4,
};

// 0xD6: the boot loader dumped into the dump file.
enum class Dump_Result : int {
    kOk = 0,
    kCommandNotWritten = 1,
    kNoAnswer = 2,
    kNotAcknowledged = 3,
    kNoBlockCount = 4,
    kNoBlockOrSize = 5,  // block size, or a block, not received
    kFileFailed = 6,     // no new dump file could be created, or it could not be written
    kBlockTooLarge = 7,  // block size above the 2048-byte receive buffer
    kSizeOverflow = 8,   // block count times block size beyond 32 bits
    kDumpTooLarge = 9,   // block count times block size above 16 MiB: nothing written
    kWriteTimedOut = kWriteTimedOutCode,
    kStopped = kStoppedCode,
};

// The record taken from the dump file.
enum class Find_Version_Result : int {
    kOk = 0,
    kTooShort = 1,  // no file, or it holds fewer than 4096 bytes
    kNoMarker = 2,  // no marker with a whole record after it in those bytes
};

// 0xE1: the image's record into the phone.
enum class Write_Version_Result : int {
    kOk = 0,
    kCommandNotWritten = 1,                  // 0xE1 not written
    kRecordNotWritten = kCommandNotWritten,  // the record not written: the same number
    kNoAnswer = 2,
    kNotAcknowledged = 3,
    kWriteTimedOut = kWriteTimedOutCode,
    kStopped = kStoppedCode,
};

// 0xDD: the two regions announced.
enum class Set_Regions_Result : int {
    kOk = 0,
    kCommandNotWritten = 1,
    kCountNotWritten = 2,
    kFirstStartNotWritten = 3,
    kFirstEndNotWritten = 4,
    kSecondStartNotWritten = 5,
    kSecondEndNotWritten = 6,
    kNoAnswer = 8,
    kNotAcknowledged = 9,
    kWriteTimedOut = kWriteTimedOutCode,
    kStopped = kStoppedCode,
};

// 0xDE: the regions' data.
enum class Download_Result : int {
    kOk = 0,
    kCommandNotWritten = 1,
    kNoAnswer = 2,
    kNotAcknowledged = 3,
    kBlockSizeNotWritten = 4,
    kNoBlockSizeAnswer = 5,
    kBlockSizeNotAcknowledged = 6,
    kRegionWithoutData = 7,  // a region with bytes but no buffer: nothing sent
    kNoBlockReply = 8,
    kRefused05 = 9,
    kRefused06 = 10,
    kRefused07 = 11,
    kAbortNotWritten = 12,  // asked for a fourth time, and 0xA5 not written
    kAborted = 13,          // asked for a fourth time and 0xA5 sent, or no 0x5A in a resend
    kResendNotAcknowledged = 14,
    kResumeNotWritten = 15,
    kNoFinalAnswer = 19,
    kFinalNotAcknowledged = 20,
    kWriteTimedOut = kWriteTimedOutCode,
    kStopped = kStoppedCode,
};

// The number a result is shown and logged by.
template <typename Result>
constexpr int Code(Result result) {
    return static_cast<int>(result);
}

// The shared numbers, checked for every data operation's result.
template <typename Result>
constexpr bool Keeps_Shared_Codes() {
    return Code(Result::kOk) == 0 && Code(Result::kWriteTimedOut) == kWriteTimedOutCode &&
           Code(Result::kStopped) == kStoppedCode;
}
template <typename Result>
constexpr bool Keeps_Command_Codes() {
    return Code(Result::kCommandNotWritten) == 1 && Code(Result::kNoAnswer) == 2 &&
           Code(Result::kNotAcknowledged) == 3;
}
static_assert(Keeps_Shared_Codes<Read_Version_Result>() &&
              Keeps_Command_Codes<Read_Version_Result>());
static_assert(Keeps_Shared_Codes<Dump_Result>() && Keeps_Command_Codes<Dump_Result>());
static_assert(Keeps_Shared_Codes<Write_Version_Result>() &&
              Keeps_Command_Codes<Write_Version_Result>());
static_assert(Keeps_Shared_Codes<Set_Regions_Result>() &&
              Code(Set_Regions_Result::kCommandNotWritten) == 1);
static_assert(Keeps_Shared_Codes<Download_Result>() && Keeps_Command_Codes<Download_Result>());

// What a data operation returns: its result, and how the read or write that
// decided it ended. kComplete where no transfer failed (a wrong byte, a
// refused block, a file that took no bytes); kInterrupted with kStopped;
// kHungUp when the phone was unplugged; kTimedOut when it fell silent.
template <typename Result>
struct Outcome {
    constexpr Outcome(Result code, Io_End how = Io_End::kComplete) : result(code), end(how) {}
    constexpr bool operator==(Result other) const { return result == other; }

    Result result;
    Io_End end;
};

template <typename Result>
constexpr int Code(Outcome<Result> outcome) {
    return Code(outcome.result);
}

}  // namespace boot
