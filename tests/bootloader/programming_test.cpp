// Announcing the flash regions, sending their blocks with the resend
// procedure, and the progress bar that follows the accepted bytes.
#include <gtest/gtest.h>

#include <numeric>

#include "boot_fixture.h"

namespace {

constexpr std::uint8_t kAccepted = 0x69;

// Everything before the first block: 0xDE, its 0x5A, the block size, its 0x5A.
void Script_Opening(ScriptedPort& port) {
    port.Expect({0xDE}).Reply({0x5A}).Expect({0x00, 0x80, 0x00, 0x00}).Reply({0x5A});
}

std::array<std::uint8_t, 2> Sum_Of(std::span<const std::uint8_t> block) {
    const unsigned sum = std::accumulate(block.begin(), block.end(), 0u) & 0xFFFF;
    return {std::uint8_t(sum >> 8), std::uint8_t(sum)};
}

// One block and its sum as the host must send them.
void Script_Block(ScriptedPort& port, std::span<const std::uint8_t> block) {
    port.Expect(block).Expect(Sum_Of(block));
}

std::vector<std::uint8_t> Pattern(std::size_t size, std::uint8_t seed) {
    std::vector<std::uint8_t> bytes(size);
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = std::uint8_t(i * 7 + seed);
    return bytes;
}

Image_Region Region(std::uint32_t start, std::uint32_t length) {
    return {start, start + length - 1, length};
}

TEST(SetRegions, AnnouncesBothRegionsLittleEndian) {
    Boot_Rig rig;
    rig.Open();
    rig.port
        .Expect({0xDD, 0x02, 0x04, 0x03, 0x02, 0x01, 0xFF, 0xFF, 0x02, 0x01, 0x00, 0x00, 0x00, 0x80,
                 0x10, 0x00, 0x01, 0x80})
        .Reply({0x5A});
    EXPECT_EQ(boot::Code(rig.com->Set_Regions({0x01020304, 0x0102FFFF, 0xFFFC},
                                              {0x80000000, 0x80010010, 17})),
              0);
    rig.Expect_Script_Kept();
    EXPECT_EQ(rig.port.reads().back().timeout_ms, 200u);
}

TEST(SetRegions, EachFailureHasItsCode) {
    for (std::size_t write = 0; write < 6; ++write) {
        SCOPED_TRACE("write " + std::to_string(write) + " fails");
        Boot_Rig rig;
        rig.Open();
        rig.port.check_writes = false;
        rig.port.Fail_Write_Call(write);
        EXPECT_EQ(boot::Code(rig.com->Set_Regions({}, {})), static_cast<int>(write) + 1);
        EXPECT_EQ(rig.port.writes().size(), write + 1);  // nothing after the failure
    }
    for (auto [reply, code] : {std::pair{std::vector<std::uint8_t>{}, 8},
                               std::pair{std::vector<std::uint8_t>{0x69}, 9}}) {
        Boot_Rig rig;
        rig.Open();
        rig.port.check_writes = false;
        rig.port.Reply(reply);
        EXPECT_EQ(boot::Code(rig.com->Set_Regions({}, {})), code);
    }
    // A write past its deadline and a stop have codes of their own.
    for (auto [script, code] :
         {std::pair{&ScriptedPort::Stall_Write, 21}, std::pair{&ScriptedPort::Stop_Here, 22}}) {
        Boot_Rig rig;
        rig.Open();
        rig.port.Expect({0xDD, 0x02});
        (rig.port.*script)();
        EXPECT_EQ(boot::Code(rig.com->Set_Regions({}, {})), code);
        rig.Expect_Script_Kept();
    }
}

TEST(DownloadRegions, CutsRegionsIntoBlocksSentStraightFromTheirBuffers) {
    Boot_Rig rig;
    rig.Open();
    rig.Attach_Bar();
    const auto first = Pattern(32769, 1);   // a full block, then a block of 1 byte
    const auto second = Pattern(32768, 2);  // exactly one full block
    const std::span<const std::uint8_t> a(first), b(second);
    Script_Opening(rig.port);
    Script_Block(rig.port, a.first(32768));
    rig.port.Reply({kAccepted});
    Script_Block(rig.port, a.subspan(32768));
    rig.port.Reply({kAccepted});
    Script_Block(rig.port, b);
    rig.port.Reply({kAccepted}).Reply({0x5A});

    rig.com->Progress_Init(32769 + 32768);
    EXPECT_EQ(rig.bar.maximum(), 32769 + 32768);
    EXPECT_EQ(boot::Code(rig.com->Download_Regions(Region(0x1000, 32769), Region(0x90000, 32768),
                                                   {first.data(), second.data()})),
              0);
    rig.Expect_Script_Kept();

    // Writes: 0xDE, size, then block and sum three times; each block in one
    // write from the region's own buffer, never a copy.
    ASSERT_EQ(rig.port.writes().size(), 8u);
    EXPECT_EQ(rig.port.writes()[2].source, first.data());
    EXPECT_EQ(rig.port.writes()[4].source, first.data() + 32768);
    EXPECT_EQ(rig.port.writes()[6].source, second.data());
    EXPECT_EQ(rig.port.writes()[6].bytes.size(), 32768u);
    // Reply limits, then the two-minute final limit.
    EXPECT_EQ(rig.port.reads()[2].timeout_ms, 10000u);
    EXPECT_EQ(rig.port.reads().back().timeout_ms, 120000u);
    // The bar follows the accepted bytes and drops back to 0 with the last block.
    EXPECT_EQ(rig.bar.positions, (std::vector<int>{0, 32768, 32769, 0}));
}

TEST(DownloadRegions, EmptyRegionsSendNoBlock) {
    const auto bytes = Pattern(5, 3);
    {
        SCOPED_TRACE("empty first region");
        Boot_Rig rig;
        rig.Open();
        Script_Opening(rig.port);
        Script_Block(rig.port, bytes);
        rig.port.Reply({kAccepted}).Reply({0x5A});
        EXPECT_EQ(boot::Code(rig.com->Download_Regions({}, Region(0, 5), {nullptr, bytes.data()})),
                  0);
        rig.Expect_Script_Kept();
    }
    {
        SCOPED_TRACE("both empty: straight to the final answer");
        Boot_Rig rig;
        rig.Open();
        Script_Opening(rig.port);
        rig.port.Reply({0x5A});
        EXPECT_EQ(boot::Code(rig.com->Download_Regions({}, {}, {nullptr, nullptr})), 0);
        rig.Expect_Script_Kept();
        EXPECT_EQ(rig.port.reads().size(), 3u);
    }
    {
        SCOPED_TRACE("a region with bytes but no buffer is refused before anything is sent");
        Boot_Rig rig;
        rig.Open();
        EXPECT_EQ(boot::Code(rig.com->Download_Regions(Region(0, 5), {}, {nullptr, nullptr})), 7);
        EXPECT_TRUE(rig.port.writes().empty());
    }
}

TEST(DownloadRegions, BlockSumsWrapAtSixteenBits) {
    const std::vector<std::uint8_t> ones(32768, 0xFF);
    const std::vector<std::uint8_t> abc{'a', 'b', 'c'};
    Boot_Rig rig;
    rig.Open();
    Script_Opening(rig.port);
    rig.port.Expect(ones).Expect({0x80, 0x00}).Reply({kAccepted});
    rig.port.Expect(abc).Expect({0x01, 0x26}).Reply({kAccepted}).Reply({0x5A});
    EXPECT_EQ(boot::Code(rig.com->Download_Regions(Region(0, 32768), Region(0x100, 3),
                                                   {ones.data(), abc.data()})),
              0);
    rig.Expect_Script_Kept();
}

// A reply that asks again, the boot loader's 0x5A, and the host's resume byte.
void Script_Ask_Again(ScriptedPort& port, std::span<const std::uint8_t> block) {
    port.Reply({0x00}).Reply({0x5A}).Expect({0x69});
    Script_Block(port, block);
}

TEST(DownloadRegions, EachBlockMayBeAskedForThreeTimes) {
    const auto bytes = Pattern(32768 + 10, 4);
    const std::span<const std::uint8_t> all(bytes);
    Boot_Rig rig;
    rig.Open();
    rig.Attach_Bar();
    rig.com->Progress_Init(static_cast<int>(bytes.size()));
    Script_Opening(rig.port);
    // The resend count starts again after every accepted block.
    for (auto block : {all.first(32768), all.subspan(32768)}) {
        Script_Block(rig.port, block);
        for (int i = 0; i < 3; ++i)
            Script_Ask_Again(rig.port, block);
        rig.port.Reply({kAccepted});
    }
    rig.port.Reply({0x5A});
    EXPECT_EQ(boot::Code(rig.com->Download_Regions(Region(0, 32778), {}, {bytes.data(), nullptr})),
              0);
    rig.Expect_Script_Kept();
    // Progress counts each accepted block once, however often it was sent.
    EXPECT_EQ(rig.bar.positions, (std::vector<int>{0, 32768, 0}));
}

TEST(DownloadRegions, AFourthAskAbortsWithA5) {
    const auto bytes = Pattern(100, 5);
    for (bool abort_written : {true, false}) {
        SCOPED_TRACE(abort_written ? "abort byte sent" : "abort byte not written");
        Boot_Rig rig;
        rig.Open();
        Script_Opening(rig.port);
        Script_Block(rig.port, bytes);
        for (int i = 0; i < 3; ++i)
            Script_Ask_Again(rig.port, bytes);
        rig.port.Reply({0x42});
        if (abort_written) {
            rig.port.Expect({0xA5});
        } else {
            rig.port.Fail_Write();
        }
        EXPECT_EQ(
            boot::Code(rig.com->Download_Regions(Region(0, 100), {}, {bytes.data(), nullptr})),
            abort_written ? 13 : 12);
        rig.Expect_Script_Kept();
        // The block went out four times in all.
        std::size_t sent = 0;
        for (const auto& write : rig.port.writes())
            sent += write.source == bytes.data();
        EXPECT_EQ(sent, 4u);
    }
}

TEST(DownloadRegions, EachFailureOfTheExchangeHasItsCode) {
    const auto bytes = Pattern(100, 6);
    const std::span<const std::uint8_t> block(bytes);
    struct Case {
        const char* name;
        std::function<void(ScriptedPort&)> script;
        int code;
        bool unplugged = false;
    };
    const auto sent_block = [block](ScriptedPort& p) {
        Script_Opening(p);
        Script_Block(p, block);
    };
    const std::vector<Case> cases = {
        {"0xDE not written", [](ScriptedPort& p) { p.Fail_Write(); }, 1},
        {"no answer to 0xDE", [](ScriptedPort& p) { p.Expect({0xDE}).Silence(); }, 2},
        {"answer to 0xDE not 0x5A", [](ScriptedPort& p) { p.Expect({0xDE}).Reply({0x69}); }, 3},
        {"block size not written",
         [](ScriptedPort& p) { p.Expect({0xDE}).Reply({0x5A}).Fail_Write(); }, 4},
        {"no answer to the block size",
         [](ScriptedPort& p) {
             p.Expect({0xDE}).Reply({0x5A}).Expect({0, 0x80, 0, 0}).Silence();
         },
         5},
        {"answer to the block size not 0x5A",
         [](ScriptedPort& p) {
             p.Expect({0xDE}).Reply({0x5A}).Expect({0, 0x80, 0, 0}).Reply({0});
         },
         6},
        {"no reply to a block", [&](ScriptedPort& p) { sent_block(p), p.Silence(); }, 8},
        {"refused with 0x05", [&](ScriptedPort& p) { sent_block(p), p.Reply({0x05}); }, 9},
        {"refused with 0x06", [&](ScriptedPort& p) { sent_block(p), p.Reply({0x06}); }, 10},
        {"refused with 0x07", [&](ScriptedPort& p) { sent_block(p), p.Reply({0x07}); }, 11},
        {"no 0x5A in the resend procedure",
         [&](ScriptedPort& p) { sent_block(p), p.Reply({0x01}).Silence(); }, 13},
        {"resend procedure byte not 0x5A",
         [&](ScriptedPort& p) {
             sent_block(p), p.Reply({0x01, 0x69});
         },
         14},
        {"resume byte not written",
         [&](ScriptedPort& p) {
             sent_block(p), p.Reply({0x01, 0x5A}).Fail_Write();
         },
         15},
        {"no final answer", [&](ScriptedPort& p) { sent_block(p), p.Reply({kAccepted}).Silence(); },
         19},
        {"final answer not 0x5A",
         [&](ScriptedPort& p) {
             sent_block(p), p.Reply({kAccepted, 0x69});
         },
         20},
        // The causes a port reports beyond the byte values.
        {"the phone unplugged while it takes a block",
         [&](ScriptedPort& p) { sent_block(p), p.Hang_Up(); }, 8, true},
        {"block size write past its deadline",
         [](ScriptedPort& p) { p.Expect({0xDE}).Reply({0x5A}).Stall_Write(); }, 21},
        {"block write past its deadline: no sum, no reply awaited",
         [](ScriptedPort& p) { Script_Opening(p), p.Stall_Write(); }, 21},
        {"sum write past its deadline: no reply awaited",
         [&](ScriptedPort& p) { Script_Opening(p), p.Expect(block).Stall_Write(); }, 21},
        {"stopped while the sum goes out: nothing more is written",
         [&](ScriptedPort& p) { Script_Opening(p), p.Expect(block).Stop_Here(); }, 22},
        {"stopped while the phone takes a block: nothing more is written",
         [&](ScriptedPort& p) { sent_block(p), p.Stop_Here(); }, 22},
        {"stopped before the blocks: nothing to abort",
         [](ScriptedPort& p) { p.Expect({0xDE}).Stop_Here(); }, 22},
        {"stopped while the phone finishes: nothing to abort",
         [&](ScriptedPort& p) { sent_block(p), p.Reply({kAccepted}).Stop_Here(); }, 22},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Boot_Rig rig;
        rig.Open();
        c.script(rig.port);
        const auto sent = rig.com->Download_Regions(Region(0, 100), {}, {bytes.data(), nullptr});
        EXPECT_EQ(boot::Code(sent), c.code);
        rig.Expect_Script_Kept();  // in particular: no abort byte after a refusal
        // How the transfer that decided it ended comes with the code.
        EXPECT_EQ(sent.end == Io_End::kHungUp, c.unplugged);
        if (c.code == boot::kStoppedCode) {
            EXPECT_EQ(sent.end, Io_End::kInterrupted);
        }
        if (c.code == boot::kWriteTimedOutCode) {
            EXPECT_EQ(sent.end, Io_End::kTimedOut);
        }
    }
}

TEST(DownloadRegions, AFailedBlockWriteSendsNoSumAndTheReplyDecides) {
    const auto bytes = Pattern(100, 7);
    Boot_Rig rig;
    rig.Open();
    Script_Opening(rig.port);
    rig.port.Fail_Write().Reply({0x01, 0x5A}).Expect({0x69});  // asked again
    Script_Block(rig.port, bytes);
    rig.port.Reply({kAccepted, 0x5A});
    EXPECT_EQ(boot::Code(rig.com->Download_Regions(Region(0, 100), {}, {bytes.data(), nullptr})),
              0);
    rig.Expect_Script_Kept();
}

TEST(Progress, StepsAndResetsOnlyWithABarAttached) {
    Boot_Rig rig;
    rig.com->Set_Report(nullptr);
    EXPECT_TRUE(rig.com->Progress_Init(1000));
    EXPECT_TRUE(rig.com->Progress_Step(5000));  // no bar: nothing to fill

    rig.com->Set_Report(&rig.report);
    rig.Attach_Bar();
    rig.bar.Set_Position(77);
    EXPECT_TRUE(rig.com->Progress_Init(1000));
    EXPECT_EQ(rig.bar.minimum(), 0);
    EXPECT_EQ(rig.bar.maximum(), 1000);
    EXPECT_EQ(rig.bar.position(), 0);
    EXPECT_TRUE(rig.com->Progress_Step(999));
    EXPECT_EQ(rig.bar.position(), 999);
    EXPECT_FALSE(rig.com->Progress_Step(1));
    EXPECT_EQ(rig.bar.position(), 0);
    EXPECT_FALSE(rig.com->Progress_Step(5000));  // past the maximum also resets
    EXPECT_EQ(rig.bar.position(), 0);
}

}  // namespace
