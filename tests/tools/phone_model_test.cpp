// The boot-loader model's protocol behaviour without faults.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>

#include "phone_test_host.h"

using Bytes = std::vector<std::uint8_t>;
using vphone::Event_Kind;

namespace {

std::size_t Count(const std::vector<vphone::Phone_Event>& events, Event_Kind kind) {
    return static_cast<std::size_t>(
        std::count_if(events.begin(), events.end(), [&](const auto& e) { return e.kind == kind; }));
}

}  // namespace

TEST(PhoneModel, HandshakeAnswersEveryCycleWithoutCounting) {
    vphone::Phone_Model phone;
    Phone_Test_Host host{phone};
    for (int cycle = 0; cycle < 25; ++cycle) {
        ASSERT_TRUE(host.sync_cycle()) << "cycle " << cycle;
    }
    auto events = phone.take_events();
    ASSERT_EQ(Count(events, Event_Kind::handshake_cycle), 25u);
    EXPECT_EQ(events.back().a, 25u);
    // A host that gives up mid-cycle and starts over is answered afresh.
    EXPECT_EQ(host.send({0x58}), Bytes{0x58});
    EXPECT_EQ(host.send({0x58}), Bytes{0x58});
    EXPECT_TRUE(host.sync_cycle());
}

TEST(PhoneModel, RecordIsReadAndReplacedByTheHost) {
    vphone::Phone_Model phone;
    Phone_Test_Host host{phone};
    Bytes expected(33, 0xFF);
    expected[0] = 0x5A;
    EXPECT_EQ(host.send({0xE0}), expected);

    const std::string text = "CVLbootloaderVC_M418ZHTWA00200xy";
    EXPECT_EQ(host.send({0xE1}), Bytes{0x5A});
    EXPECT_TRUE(host.send(Bytes(text.begin(), text.end())).empty());  // no answer after the record
    Bytes answer = host.send({0xE0});
    ASSERT_EQ(answer.size(), 33u);
    EXPECT_EQ(std::string(answer.begin() + 1, answer.end()), text);
}

TEST(PhoneModel, DumpHasHeaderBlocksAndTheMarkerWithTheOriginalRecord) {
    auto config = vphone::Default_Config();
    config.dump_blocks = 5;
    config.dump_block_size = 2048;
    config.marker_offset = 4096 - 32;  // the last place the host can still find it
    vphone::Phone_Model phone(config);
    Phone_Test_Host host{phone};
    Bytes answer = host.send({0xD6});
    ASSERT_EQ(answer.size(), 9u + 5 * 2048);
    EXPECT_EQ(Bytes(answer.begin(), answer.begin() + 9),
              (Bytes{0x5A, 0, 0, 0, 5, 0, 0, 0x08, 0x00}));
    const std::string dump(answer.begin() + 9, answer.end());
    EXPECT_EQ(dump.find("CVLbootloaderVC_M418ZHTWA00100"), 4096u - 32);
    EXPECT_EQ(dump.substr(4096 - 32, 32), std::string("CVLbootloaderVC_M418ZHTWA00100\0\0", 32));
    // The same phone serves the same dump every time.
    EXPECT_EQ(host.send({0xD6}), answer);
}

TEST(PhoneModel, TransferOfTwoRegionsFillsTheFlash) {
    vphone::Phone_Model phone;
    Phone_Test_Host host{phone};
    const Bytes first = Pattern(32769, 1);  // a full block and a block of one byte
    const Bytes second = Pattern(32768, 9);
    ASSERT_EQ(host.announce(0x10000, 32769, 0x800000, 32768), Bytes{0x5A});
    ASSERT_TRUE(host.start_transfer());
    EXPECT_EQ(host.block(Bytes(first.begin(), first.begin() + 32768)), Bytes{0x69});
    EXPECT_EQ(host.block(Bytes(first.begin() + 32768, first.end())), Bytes{0x69});
    // The last block draws the acceptance and then the final acknowledgement.
    EXPECT_EQ(host.block(second), (Bytes{0x69, 0x5A}));

    ASSERT_EQ(phone.flash().size(), 2u);
    EXPECT_EQ(phone.flash()[0].start, 0x10000u);
    EXPECT_EQ(phone.flash()[0].bytes, first);
    EXPECT_EQ(phone.flash()[1].start, 0x800000u);
    EXPECT_EQ(phone.flash()[1].bytes, second);
    auto events = phone.take_events();
    EXPECT_EQ(Count(events, Event_Kind::block_accepted), 3u);
    EXPECT_EQ(Count(events, Event_Kind::final_ack_sent), 1u);
}

TEST(PhoneModel, EmptyRegionsDrawNoBlock) {
    vphone::Phone_Model phone;
    Phone_Test_Host host{phone};
    ASSERT_EQ(host.announce(0x1000, 0, 0x2000, 3), Bytes{0x5A});
    ASSERT_TRUE(host.start_transfer());
    EXPECT_EQ(host.block({1, 2, 3}), (Bytes{0x69, 0x5A}));
    EXPECT_TRUE(phone.flash()[0].bytes.empty());

    // Both empty: the final acknowledgement follows the block size at once.
    ASSERT_EQ(host.announce(0x1000, 0, 0x2000, 0), Bytes{0x5A});
    EXPECT_EQ(host.send({0xDE}), Bytes{0x5A});
    EXPECT_EQ(host.send({0x00, 0x80, 0x00, 0x00}), (Bytes{0x5A, 0x5A}));
}

TEST(PhoneModel, AnnouncementsAndBlockSizesThePhoneCannotTakeAreNotAcknowledged) {
    vphone::Phone_Model phone;
    Phone_Test_Host host{phone};
    // Data before any announcement: the phone does not know where to write.
    EXPECT_EQ(host.send({0xDE}), Bytes{0x00});
    // An end before its start.
    Bytes bad = {0xDD, 0x02};
    for (std::uint32_t v : {0x2000u, 0x1000u, 0x3000u, 0x3010u}) {
        auto field = Phone_Test_Host::le32(v);
        bad.insert(bad.end(), field.begin(), field.end());
    }
    EXPECT_EQ(host.send(bad), Bytes{0x00});
    // A region count other than two.
    bad[1] = 3;
    EXPECT_EQ(host.send(bad), Bytes{0x00});
    // A zero block size would never end.
    ASSERT_EQ(host.announce(0, 16, 0x100, 16), Bytes{0x5A});
    EXPECT_EQ(host.send({0xDE}), Bytes{0x5A});
    EXPECT_EQ(host.send({0, 0, 0, 0}), Bytes{0x00});
}

TEST(PhoneModel, WrongSumAsksAgainAndTheResentBlockIsTakenOnce) {
    vphone::Phone_Model phone;
    Phone_Test_Host host{phone};
    const Bytes data = Pattern(100, 3);
    ASSERT_EQ(host.announce(0, 100, 0x1000, 0), Bytes{0x5A});
    ASSERT_TRUE(host.start_transfer());
    EXPECT_EQ(host.block(data, +1), (Bytes{0x33, 0x5A}));
    EXPECT_TRUE(host.send({0x69}).empty());
    EXPECT_EQ(host.block(data, -1), (Bytes{0x33, 0x5A}));
    EXPECT_TRUE(host.send({0x69}).empty());
    EXPECT_EQ(host.block(data), (Bytes{0x69, 0x5A}));
    EXPECT_EQ(phone.flash()[0].bytes, data);
    auto events = phone.take_events();
    ASSERT_EQ(Count(events, Event_Kind::block_asked_again), 2u);
    auto asked = std::find_if(events.begin(), events.end(), [](const auto& e) {
        return e.kind == Event_Kind::block_asked_again;
    });
    EXPECT_EQ(asked->d, 1u);  // reported as a bad sum
}

TEST(PhoneModel, AbortAfterAskAgainEndsTheTransferAndANewOneStartsClean) {
    vphone::Phone_Model phone;
    Phone_Test_Host host{phone};
    const Bytes data = Pattern(40000, 5);
    ASSERT_EQ(host.announce(0, 40000, 0x100000, 0), Bytes{0x5A});
    ASSERT_TRUE(host.start_transfer());
    ASSERT_EQ(host.block(Bytes(data.begin(), data.begin() + 32768)), Bytes{0x69});
    ASSERT_EQ(host.block(Bytes(data.begin() + 32768, data.end()), 5), (Bytes{0x33, 0x5A}));
    EXPECT_TRUE(host.send({0xA5}).empty());
    EXPECT_EQ(Count(phone.take_events(), Event_Kind::transfer_aborted), 1u);
    EXPECT_FALSE(phone.mid_exchange());

    // The next transfer starts from the first byte again.
    ASSERT_TRUE(host.start_transfer());
    ASSERT_EQ(host.block(Bytes(data.begin(), data.begin() + 32768)), Bytes{0x69});
    ASSERT_EQ(host.block(Bytes(data.begin() + 32768, data.end())), (Bytes{0x69, 0x5A}));
    EXPECT_EQ(phone.flash()[0].bytes, data);
}

TEST(PhoneModel, QuietHostMidBlockLetsTheNextSessionStartOver) {
    vphone::Phone_Model phone;
    Phone_Test_Host host{phone};
    ASSERT_EQ(host.announce(0, 1000, 0x1000, 0), Bytes{0x5A});
    ASSERT_TRUE(host.start_transfer());
    EXPECT_TRUE(host.send(Pattern(300, 1)).empty());  // the host vanished mid-block
    ASSERT_TRUE(phone.mid_exchange());
    phone.line_quiet();
    EXPECT_FALSE(phone.mid_exchange());
    EXPECT_TRUE(host.sync_cycle());
    EXPECT_EQ(host.send({0x60}), Bytes{});
    EXPECT_EQ(Count(phone.take_events(), Event_Kind::link_closed), 1u);
}

// The phone as judge: host byte sequences and the deviations they draw (none
// for what the protocol allows, or what the phone's own faults make the host do).
struct Judge_Case {
    const char* name;
    std::vector<const char*> faults;
    std::function<void(vphone::Phone_Model&, Phone_Test_Host&)> host;
    std::vector<std::string> deviations;
};

Bytes Announcement(std::uint8_t count, std::vector<std::uint32_t> fields) {
    Bytes bytes = {0xDD, count};
    for (std::uint32_t v : fields) {
        auto field = Phone_Test_Host::le32(v);
        bytes.insert(bytes.end(), field.begin(), field.end());
    }
    return bytes;
}

// Link, 16 bytes announced, transfer started: the block begins at host byte 138.
void Ready_For_A_Block(Phone_Test_Host& h) {
    ASSERT_TRUE(h.link());
    ASSERT_EQ(h.announce(0, 16, 0x100, 0), Bytes{0x5A});
    ASSERT_TRUE(h.start_transfer());
}

const Bytes kBlock(16, 0x01);  // sums to 0x0010

std::vector<Judge_Case> Judge_Cases() {
    using M = vphone::Phone_Model;
    using H = Phone_Test_Host;
    return {
        {"MissingConfirmationClose",
         {},
         [](M&, H& h) { h.send({0x58}), h.send({0xA3}), h.send({0x55}); },
         {"host byte 3, handshake: expected 0xA5 (confirmation close), came 0x55"}},
        {"CommandBeforeTheHandshake",
         {},
         [](M&, H& h) { h.sync_cycle(), h.send({0xE0}); },
         {"host byte 5, handshake: expected 0x58 (handshake cycle 2 of 20), came 0xE0"}},
        {"CommandOutOfTurn",
         {},
         [](M&, H& h) { h.handshake(), h.send({0xE1}); },
         {"host byte 81, command: expected 0xE0 or 0x60 or 0x58 (a new search), came 0xE1"}},
        {"WrongRegionCount",
         {},
         [](M&, H& h) {
             h.link(), h.send(Announcement(3, {0, 15, 0x100, 0xFF}));
         },
         {"host byte 116, 0xDD regions: expected region count 0x02, came 0x03"}},
        {"RegionEndingBeforeItsStart",
         {},
         [](M&, H& h) {
             h.link(), h.send(Announcement(2, {0x2000, 0x1000, 0x100, 0xFF}));
         },
         {"host byte 121, 0xDD regions: expected region 1 ending at or after 0x00001FFF, came "
          "0x00001000"}},
        {"WrongBlockSize",
         {},
         [](M&, H& h) {
             h.link(), h.announce(0, 16, 0x100, 0), h.send({0xDE}), h.send({0, 0x40, 0, 0});
         },
         {"host byte 134, 0xDE data: expected block size 0x00008000, came 0x00004000"}},
        {"WrongBlockSum",
         {},
         [](M&, H& h) { Ready_For_A_Block(h), h.block(kBlock, +1); },
         {"host byte 154, 0xDE data: expected sum 0x0010 of the block at region 1 offset 0 (16 "
          "bytes), came 0x0011"}},
        {"BlockLongerThanAnnounced",
         {},
         [](M&, H& h) { Ready_For_A_Block(h), h.block(Bytes(19, 1)); },
         {"host byte 154, 0xDE data: expected the block at region 1 offset 0 (16 bytes) and its "
          "2-byte sum, came 21 bytes before the reply"}},
        {"ResumeOtherThan0x69",
         {"block@1:ask-again"},
         [](M&, H& h) { Ready_For_A_Block(h), h.block(kBlock), h.send({0x6A}); },
         {"host byte 156, 0xDE data: expected 0x69 (resume), came 0x6A"}},
        {"AbortBeforeTheFourthAskAgain",
         {"block@1:ask-again"},
         [](M&, H& h) { Ready_For_A_Block(h), h.block(kBlock), h.send({0xA5}); },
         {"host byte 156, 0xDE data: expected 0x69 (resume), came 0xA5"}},
        {"BytesAfterTheClosingByte",
         {},
         [](M&, H& h) { h.link(), h.send({0x60}), h.send({0xE0}); },
         {"host byte 116, after 0x60: expected 0x58 (a new search), came 0xE0"}},
        {"NoWaitForTheReply",
         {},
         [](M&, H& h) {
             h.handshake(), h.send({0xE0, 0xD6});
         },
         {"host byte 82, e0-record: expected no byte before the phone's reply is read, came 0xD6"}},
        {"NewSearchWithoutClosingThePort",
         {},
         [](M& p, H& h) { p.host_opened(), h.handshake(), h.send({0x58}); },
         {"host byte 81, command: expected 0xE0 or 0x60, came 0x58"}},
        {"ExchangeLeftUnfinishedWithThePortOpen",
         {},
         [](M& p, H& h) {
             h.link(), h.send({0xDD, 0x02}), p.line_quiet(true);
         },
         {"host byte 117, 0xDD regions: expected 16 more bytes of the announcement, came nothing: "
          "the host went quiet with the port open"}},
        // What the protocol allows, and how the host may react to the phone's faults.
        {"WholeUpdate",
         {},
         [](M&, H& h) { Ready_For_A_Block(h), h.block(kBlock), h.send({0x60}); },
         {}},
        {"NewSearchAfterASilentEcho",
         {"sync-echo@1:silent"},
         [](M&, H& h) { h.send({0x58}), h.handshake(), h.send({0xE0}); },
         {}},
        {"NewSearchAfterAWrongConfirmation",
         {"confirm@2:wrong"},
         [](M&, H& h) { h.sync_cycle(), h.send({0x58}), h.send({0xA3}), h.link(); },
         {}},
        {"ClosingAfterARefusedBlock",
         {"block@1:refuse"},
         [](M&, H& h) { Ready_For_A_Block(h), h.block(kBlock), h.send({0x60}), h.sync_cycle(); },
         {}},
        {"AbortAtTheFourthAskAgain",
         {"block@1:ask-again:4"},
         [](M&, H& h) {
             Ready_For_A_Block(h);
             for (int i = 0; i < 3; ++i)
                 h.block(kBlock), h.send({0x69});
             h.block(kBlock), h.send({0xA5}), h.send({0x60});
         },
         {}},
        {"PortClosedMidExchange",
         {},
         [](M& p, H& h) {
             p.host_opened(), h.link(), h.send({0xDD, 0x02}), p.host_closed(), h.link();
         },
         {}},
        // A late reply excuses the host only once the host's own limit for
        // it (2000 ms for the record) has passed.
        {"ClosingByteIntoALateReplyBeforeTheHostsLimit",
         {"e0-record@1:delay:5000"},
         [](M& p, H& h) {
             h.handshake(), h.send({0xE0}), p.set_clock_ms(1999), p.receive(Bytes{0x60}, true);
         },
         {"host byte 82, e0-record: expected no byte before the phone's reply is read, came 0x60"}},
        {"ClosingByteAfterTheHostGaveUpOnALateReply",
         {"e0-record@1:delay:5000"},
         [](M& p, H& h) {
             h.handshake(), h.send({0xE0}), p.set_clock_ms(2000), p.receive(Bytes{0x60}, true);
         },
         {}},
        {"ReplyLeftUnreadAfterAWrongAcknowledgement",
         {"e0-ack@1:wrong"},
         [](M& p, H& h) { h.handshake(), h.send({0xE0}), p.receive(Bytes{0x60}, true); },
         {}},
    };
}

TEST(PhoneJudge, DeviationsOfTheHostAreListedAndNothingElse) {
    for (const Judge_Case& c : Judge_Cases()) {
        SCOPED_TRACE(c.name);
        auto config = vphone::Default_Config();
        for (const char* text : c.faults) {
            config.faults.push_back(*vphone::Parse_Fault_Rule(text, nullptr));
        }
        vphone::Phone_Model phone(config);
        Phone_Test_Host host{phone};
        c.host(phone, host);
        std::vector<std::string> listed;
        for (const auto& deviation : phone.deviations()) {
            listed.push_back(vphone::Describe(deviation));
        }
        EXPECT_EQ(listed, c.deviations);
    }
}
