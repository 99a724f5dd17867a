// The fault matrix: every exchange of the boot-loader protocol crossed with
// every way a phone can fail there, each case a whole update against the
// in-process phone on a simulated clock. One table below generates all cases.
//
// Every case checks what the user is promised: the command's outcome and the
// exact line naming the failed step, the window idle again (both buttons on,
// Timer1 off), the port closed when the command says so, no read that waited
// past its limit, no more time spent than the limits allow, no byte in the
// phone's flash that differs from the image - and that the next Download,
// with the phone behaving again, updates the phone completely.
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "bootloader/protocol.h"
#include "tests/reliability/update_rig.h"

namespace {

using reliability::Update_Rig;
using vphone::Exchange;
using vphone::Fault_Kind;
using vphone::Fault_Rule;

constexpr boot::Time_Limits kLimits = boot::kProtocolTimeLimits;
constexpr std::uint32_t kAlways = UINT32_MAX;
// After hanging up, the phone is plugged in again this much later.
constexpr std::int64_t kReplugMs = 300;
// A failed search pass costs its pause again, and one more when a late reply
// spoils the next pass; a hung-up phone also costs the time until it is back.
constexpr std::int64_t kSearchRetry = 2 * kLimits.search_pause + kReplugMs;

// What one fault does to the update.
struct Expected {
    Download_Outcome outcome;
    std::string line;  // the memo line that names the failure; empty: none
};

Expected Updated() {
    return {Download_Outcome::kUpdated, ""};
}
Expected Read_Failed(int code) {
    return {Download_Outcome::kFailedBeforeProgramming,
            std::string(text::kReadVersionFailed) + std::to_string(code)};
}
Expected Backup_Failed(int code) {
    return {Download_Outcome::kFailedBeforeProgramming,
            std::string(text::kDumpFailed) + std::to_string(code)};
}
Expected Write_Failed(int code) {
    return {Download_Outcome::kFailedBeforeProgramming,
            std::string(text::kWriteVersionFailed) + std::to_string(code)};
}
Expected Regions_Failed(int code) {
    return {Download_Outcome::kProgrammingFailed,
            std::string(text::kSetRegionsFailed) + std::to_string(code)};
}
Expected Transfer_Failed(int code) {
    return {Download_Outcome::kProgrammingFailed,
            std::string(text::kDownloadFailed) + std::to_string(code)};
}
Expected Not_Found() {
    return {Download_Outcome::kPhoneNotFound, std::string(text::kNotFoundEn)};
}

struct Fault_Case {
    std::string name;
    std::vector<Fault_Rule> rules;
    Expected expected;
    // Time the fault may add to a clean update: the limits of the reads it
    // makes the host wait out.
    std::int64_t extra_ms;
};

// One exchange of the protocol: its read limit and what silence, a wrong
// byte, a reply too late and the cable pulled do there.
struct Exchange_Row {
    const char* name;
    Exchange exchange;
    std::uint32_t limit_ms;
    std::uint32_t occurrence;  // which occurrence the fault hits
    Expected silent, wrong, late, hang_up;
    std::int64_t extra_ms;  // waits beyond the faulted read itself
};

// The handshake steps fail the port for one pass; the search tries again in
// the next pass and finds the phone. Failing them in every pass makes the
// search give up after its 21 passes.
std::int64_t Search_Pass_Cost(std::uint32_t limit) {
    return std::int64_t{boot::kSearchPasses} * (kLimits.search_pause + limit + kLimits.sync_check);
}

std::vector<Exchange_Row> Exchange_Table() {
    const Expected ok = Updated();
    return {
        // Handshake, once: the next pass succeeds (after the phone is back,
        // when it hung up). A reply too late may still spoil the next pass.
        {"SyncEcho", Exchange::sync_echo, kLimits.sync_echo, 1, ok, ok, ok, ok, kSearchRetry},
        {"Confirm", Exchange::confirm, kLimits.sync_confirm, 3, ok, ok, ok, ok, kSearchRetry},
        {"Check", Exchange::check, kLimits.sync_check, 20, ok, ok, ok, ok, kSearchRetry},
        // Version record.
        {"E0Ack", Exchange::e0_ack, kLimits.version_ack, 1, Read_Failed(2), Read_Failed(3),
         Read_Failed(2), Read_Failed(1), 0},
        // A wrong first byte of the record only widens the first-run difference.
        {"E0Record", Exchange::e0_record, kLimits.version_record, 1, Read_Failed(4), ok,
         Read_Failed(4), Read_Failed(1), 0},
        // Boot-loader dump; the second comparison then stops the update.
        {"D6Ack", Exchange::d6_ack, kLimits.version_ack, 1, Backup_Failed(2), Backup_Failed(3),
         Backup_Failed(2), Backup_Failed(1), 0},
        // A wrong first byte of N makes N times S overflow 32 bits.
        {"D6BlockCount", Exchange::d6_n, kLimits.dump_header, 1, Backup_Failed(4), Backup_Failed(8),
         Backup_Failed(4), Backup_Failed(1), 0},
        // A wrong first byte of S makes a block larger than the receive buffer.
        {"D6BlockSize", Exchange::d6_s, kLimits.dump_header, 1, Backup_Failed(5), Backup_Failed(7),
         Backup_Failed(5), Backup_Failed(1), 0},
        // Block 2 of the dump; its first byte is not part of the record.
        {"DumpBlock", Exchange::dump_block, kLimits.dump_block, 2, Backup_Failed(5), ok,
         Backup_Failed(5), Backup_Failed(1), 0},
        {"E1Ack", Exchange::e1_ack, kLimits.version_ack, 1, Write_Failed(2), Write_Failed(3),
         Write_Failed(2), Write_Failed(1), 0},
        // Region announcement and transfer.
        {"DDAck", Exchange::dd_ack, kLimits.regions_ack, 1, Regions_Failed(8), Regions_Failed(9),
         Regions_Failed(8), Regions_Failed(6), 0},
        {"DEAck", Exchange::de_ack, kLimits.download_ack, 1, Transfer_Failed(2), Transfer_Failed(3),
         Transfer_Failed(2), Transfer_Failed(1), 0},
        {"BlockSizeAck", Exchange::size_ack, kLimits.block_size_ack, 1, Transfer_Failed(5),
         Transfer_Failed(6), Transfer_Failed(5), Transfer_Failed(4), 0},
        // Any reply to block 2 but acceptance or refusal asks for it again:
        // the phone then sends 0x5A and takes the block once more.
        {"Block", Exchange::block, kLimits.block_reply, 2, Transfer_Failed(8), ok,
         Transfer_Failed(8), Transfer_Failed(8), 0},
        {"FinalAck", Exchange::final_ack, kLimits.final_ack, 1, Transfer_Failed(19),
         Transfer_Failed(20), Transfer_Failed(19), Transfer_Failed(8), 0},
    };
}

Fault_Rule Rule(Exchange exchange, Fault_Kind kind, std::optional<std::uint32_t> arg,
                std::uint32_t first, std::uint32_t last) {
    Fault_Rule rule;
    rule.exchange = exchange;
    rule.kind = kind;
    rule.arg = arg;
    rule.first = first;
    rule.last = last;
    return rule;
}

std::vector<Fault_Case> All_Cases() {
    std::vector<Fault_Case> cases;
    for (const Exchange_Row& row : Exchange_Table()) {
        const std::uint32_t at = row.occurrence;
        const std::int64_t wait = std::int64_t{row.limit_ms} + row.extra_ms;
        const auto add = [&](std::string suffix, std::vector<Fault_Rule> rules, Expected expected,
                             std::int64_t extra) {
            cases.push_back({std::string(row.name) + "_" + suffix, std::move(rules),
                             std::move(expected), extra});
        };
        add("Silent", {Rule(row.exchange, Fault_Kind::silent, std::nullopt, at, at)}, row.silent,
            wait);
        add("WrongByte", {Rule(row.exchange, Fault_Kind::wrong, std::nullopt, at, at)}, row.wrong,
            wait);
        // Just inside the limit: the reply is taken and the update completes.
        add("LateInside", {Rule(row.exchange, Fault_Kind::delay, row.limit_ms, at, at)}, Updated(),
            row.limit_ms);
        add("LateOutside", {Rule(row.exchange, Fault_Kind::delay, row.limit_ms + 1, at, at)},
            row.late, wait);
        add("HungUp", {Rule(row.exchange, Fault_Kind::hang_up, std::nullopt, at, at)}, row.hang_up,
            wait);
        if (row.exchange == Exchange::sync_echo || row.exchange == Exchange::confirm ||
            row.exchange == Exchange::check) {
            // The same fault in every pass: the search gives up.
            add("SilentEveryPass",
                {Rule(row.exchange, Fault_Kind::silent, std::nullopt, 1, kAlways)}, Not_Found(),
                Search_Pass_Cost(row.limit_ms));
            add("LateOutsideEveryPass",
                {Rule(row.exchange, Fault_Kind::delay, row.limit_ms + 1, 1, kAlways)}, Not_Found(),
                Search_Pass_Cost(row.limit_ms));
            add("LateInsideEveryTime",
                {Rule(row.exchange, Fault_Kind::delay, row.limit_ms, 1, kAlways)}, Updated(),
                std::int64_t{boot::kSyncCycles} * row.limit_ms);
        }
    }
    // Replies to a block: refusals, and asking again up to the limit and past it.
    const std::int64_t resend = kLimits.resend_ack;
    const auto block_rule = [](Fault_Kind kind, std::uint32_t arg) {
        return Rule(Exchange::block, kind, arg, 2, 2);
    };
    cases.push_back(
        {"Block_Refused05", {block_rule(Fault_Kind::refuse, 0x05)}, Transfer_Failed(9), 0});
    cases.push_back(
        {"Block_Refused06", {block_rule(Fault_Kind::refuse, 0x06)}, Transfer_Failed(10), 0});
    cases.push_back(
        {"Block_Refused07", {block_rule(Fault_Kind::refuse, 0x07)}, Transfer_Failed(11), 0});
    cases.push_back(
        {"Block_AskedAgainThrice", {block_rule(Fault_Kind::ask_again, 3)}, Updated(), 0});
    cases.push_back({"Block_AskedAgainFourTimes",
                     {block_rule(Fault_Kind::ask_again, 4)},
                     Transfer_Failed(13),
                     0});
    // The resend procedure's 0x5A, after block 1 is asked for again once.
    const Fault_Rule ask_once = Rule(Exchange::block, Fault_Kind::ask_again, 1, 1, 1);
    const auto resend_case = [&](std::string name, Fault_Kind kind,
                                 std::optional<std::uint32_t> arg, Expected expected) {
        cases.push_back({"ResendAck_" + name,
                         {ask_once, Rule(Exchange::resend_ack, kind, arg, 1, 1)},
                         std::move(expected),
                         resend});
    };
    resend_case("Silent", Fault_Kind::silent, std::nullopt, Transfer_Failed(13));
    resend_case("WrongByte", Fault_Kind::wrong, std::nullopt, Transfer_Failed(14));
    resend_case("LateInside", Fault_Kind::delay, kLimits.resend_ack, Updated());
    resend_case("LateOutside", Fault_Kind::delay, kLimits.resend_ack + 1, Transfer_Failed(13));
    resend_case("HungUp", Fault_Kind::hang_up, std::nullopt, Transfer_Failed(8));
    return cases;
}

// Two regions of two and three blocks (the second ending in a short block),
// on a fresh phone, so that the update takes the first-run path with its dump.
test_support::Image_Builder Matrix_Image() {
    return reliability::Matching_Image(0x00010000, test_support::Random_Bytes(65536, 11),
                                       0x00800000, test_support::Random_Bytes(70000, 12));
}

// The simulated time of a clean update, the base every case's time is held to.
std::int64_t Clean_Update_Ms() {
    static const std::int64_t clean = [] {
        Update_Rig rig(vphone::Default_Config(), Matrix_Image());
        const Download_Outcome outcome = rig.command.Run();
        return outcome == Download_Outcome::kUpdated ? rig.line.now_ms() : -1;
    }();
    return clean;
}

// Names the case in failure messages instead of dumping its bytes.
[[maybe_unused]] void PrintTo(const Fault_Case& fault, std::ostream* out) {
    *out << fault.name;
}

class Fault_Matrix : public testing::TestWithParam<Fault_Case> {};

TEST_P(Fault_Matrix, KeepsItsPromises) {
    const Fault_Case& fault = GetParam();
    const std::int64_t clean_ms = Clean_Update_Ms();
    ASSERT_GT(clean_ms, 0) << "a clean update must succeed";

    vphone::Phone_Config config = vphone::Default_Config();
    config.faults = fault.rules;
    Update_Rig rig(config, Matrix_Image());
    rig.line.set_replug_after_ms(kReplugMs);
    const Download_Outcome outcome = rig.command.Run();

    EXPECT_EQ(static_cast<int>(outcome), static_cast<int>(fault.expected.outcome))
        << rig.view.Memo_Text();
    if (!fault.expected.line.empty()) {
        EXPECT_TRUE(rig.view.Memo_Has(fault.expected.line))
            << "missing \"" << fault.expected.line << "\" in " << rig.view.Memo_Text();
    }
    const bool updated = fault.expected.outcome == Download_Outcome::kUpdated;
    EXPECT_EQ(rig.view.boxes.size(), updated ? 1u : 0u);
    EXPECT_TRUE(rig.view.Idle());
    EXPECT_FALSE(rig.view.bar_out_of_range);
    if (outcome == Download_Outcome::kUpdated || outcome == Download_Outcome::kProgrammingFailed) {
        EXPECT_FALSE(rig.line.is_open()) << "a command that reached the flash closes the port";
        EXPECT_FALSE(rig.view.bar_visible);
    }
    EXPECT_TRUE(rig.Flash_Matches_Image(updated));
    EXPECT_TRUE(rig.line.every_read_within_limit());
    EXPECT_LE(rig.line.now_ms(), clean_ms + fault.extra_ms + 50)
        << "clean update " << clean_ms << " ms";

    // The window's close handler closes whatever the command left open.
    rig.port.Close();
    EXPECT_FALSE(rig.line.is_open());

    // With the phone behaving again (a fault in every pass stays, so those
    // cases have no second try), the next Download updates it completely.
    if (fault.rules.front().last != kAlways) {
        // A phone left waiting for bytes of an exchange the host gave up on
        // would swallow the next search's bytes; the user plugs it in anew.
        if (rig.phone.mid_exchange())
            rig.phone.plug_back_in();
        const Download_Outcome again = rig.command.Run();
        EXPECT_EQ(static_cast<int>(again), static_cast<int>(Download_Outcome::kUpdated))
            << rig.view.Memo_Text();
        EXPECT_TRUE(rig.Flash_Matches_Image(true));
        EXPECT_TRUE(rig.view.Idle());
        EXPECT_FALSE(rig.line.is_open());
    }
}

INSTANTIATE_TEST_SUITE_P(AllExchanges, Fault_Matrix, testing::ValuesIn(All_Cases()),
                         [](const testing::TestParamInfo<Fault_Case>& info) {
                             return info.param.name;
                         });

}  // namespace
