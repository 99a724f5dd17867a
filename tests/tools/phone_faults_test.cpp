// The model's fault switches: each one disturbs exactly the exchange it names.
#include <gtest/gtest.h>

#include <string>

#include "phone_test_host.h"

using Bytes = std::vector<std::uint8_t>;
using vphone::Exchange;
using vphone::Fault_Kind;

namespace {

vphone::Phone_Model Phone_With(std::initializer_list<const char*> faults) {
    auto config = vphone::Default_Config();
    config.dump_blocks = 3;
    config.dump_block_size = 16;
    config.marker_offset = 0;
    for (const char* text : faults) {
        std::string error;
        auto rule = vphone::Parse_Fault_Rule(text, &error);
        EXPECT_TRUE(rule) << error;
        if (rule) {
            config.faults.push_back(*rule);
        }
    }
    return vphone::Phone_Model(config);
}

}  // namespace

TEST(PhoneFaultRules, ParseOccurrencesKindsAndArguments) {
    std::string error;
    auto rule = vphone::Parse_Fault_Rule("block@2:refuse:0x06", &error);
    ASSERT_TRUE(rule) << error;
    EXPECT_EQ(rule->exchange, Exchange::block);
    EXPECT_EQ(rule->kind, Fault_Kind::refuse);
    EXPECT_EQ(rule->arg, 6u);
    EXPECT_EQ(rule->first, 2u);
    EXPECT_EQ(rule->last, 2u);

    rule = vphone::Parse_Fault_Rule("delay:final:5000", &error);
    ASSERT_TRUE(rule) << error;
    EXPECT_EQ(rule->exchange, Exchange::final_ack);
    EXPECT_EQ(rule->kind, Fault_Kind::delay);
    EXPECT_EQ(rule->arg, 5000u);

    rule = vphone::Parse_Fault_Rule("sync-echo@3+:silent", &error);
    ASSERT_TRUE(rule);
    EXPECT_EQ(rule->first, 3u);
    EXPECT_EQ(rule->last, UINT32_MAX);
    rule = vphone::Parse_Fault_Rule("check@2-4:late:90", &error);
    ASSERT_TRUE(rule);
    EXPECT_EQ(rule->first, 2u);
    EXPECT_EQ(rule->last, 4u);

    for (const char* bad :
         {"", "block", "nowhere:silent", "block:explode", "check:refuse", "block@0:silent",
          "block@3-2:silent", "final:delay", "e0-ack:wrong:256", "block:ask-again:x", "a:b:c:d"}) {
        error.clear();
        EXPECT_FALSE(vphone::Parse_Fault_Rule(bad, &error)) << bad;
        EXPECT_FALSE(error.empty()) << bad;
    }
}

TEST(PhoneFaults, SilenceWrongAndDelayHitOnlyTheNamedOccurrence) {
    auto phone = Phone_With(
        {"sync-echo@2:silent", "confirm@1:wrong", "check@1:wrong:0x12", "check@2:delay:150"});
    Phone_Test_Host host{phone};
    EXPECT_EQ(host.send({0x58}), Bytes{0x58});
    EXPECT_EQ(host.send({0xA3}), Bytes{0xA3});  // the complement of 0x5C
    host.send({0xA5});
    EXPECT_EQ(host.send({0x55}), Bytes{0x12});
    EXPECT_TRUE(host.send({0x58}).empty());  // second echo withheld
    EXPECT_FALSE(phone.mid_exchange());
    EXPECT_EQ(host.send({0x58}), Bytes{0x58});
    EXPECT_EQ(host.send({0xA3}), Bytes{0x5C});
    host.send({0xA5});
    EXPECT_EQ(host.send({0x55}), Bytes{0xAA});
    ASSERT_EQ(host.last_output.size(), 1u);
    EXPECT_EQ(host.last_output[0].delay_ms, 150u);
    EXPECT_TRUE(host.sync_cycle());  // third time all is well again
    EXPECT_EQ(host.last_output[0].delay_ms, 0u);
}

TEST(PhoneFaults, RecordAndDumpRepliesCanBeCutShortOrWithheld) {
    auto phone = Phone_With(
        {"e0-record@1:short:5", "e1-ack@1:silent", "dump-block@2:silent", "d6-n@2:short:2"});
    Phone_Test_Host host{phone};
    EXPECT_EQ(host.send({0xE0}).size(), 1u + 5);
    EXPECT_EQ(host.send({0xE0}).size(), 1u + 32);
    // Without the acknowledgement the phone does not take the record.
    EXPECT_TRUE(host.send({0xE1}).empty());
    host.send(Bytes(32, 'A'));
    EXPECT_NE(phone.record()[0], 'A');
    // The dump stops before its second block.
    EXPECT_EQ(host.send({0xD6}).size(), 9u + 16);
    // Half a block count, then nothing.
    EXPECT_EQ(host.send({0xD6}), (Bytes{0x5A, 0, 0}));
    EXPECT_EQ(host.send({0xD6}).size(), 9u + 3 * 16);
}

TEST(PhoneFaults, BlockRepliesRefuseAskAgainAndResendAcknowledgement) {
    auto phone = Phone_With({"block@1:ask-again:3", "resend-ack@2:wrong", "block@2:refuse:0x07"});
    Phone_Test_Host host{phone};
    const Bytes data = Pattern(10, 4);
    ASSERT_EQ(host.announce(0, 10, 0x100, 10), Bytes{0x5A});
    ASSERT_TRUE(host.start_transfer());
    EXPECT_EQ(host.block(data), (Bytes{0x33, 0x5A}));
    host.send({0x69});
    EXPECT_EQ(host.block(data), (Bytes{0x33, 0xA5}));
    host.send({0x69});
    EXPECT_EQ(host.block(data), (Bytes{0x33, 0x5A}));
    host.send({0x69});
    EXPECT_EQ(host.block(data), Bytes{0x69});  // resends do not count as new blocks
    EXPECT_EQ(host.block(data), Bytes{0x07});
    EXPECT_FALSE(phone.mid_exchange());
    EXPECT_EQ(phone.flash()[0].bytes, data);
    EXPECT_TRUE(phone.flash()[1].bytes.empty());
}

TEST(PhoneFaults, FinalAcknowledgementLateWrongOrSilent) {
    for (const char* fault : {"final:late:90000", "final:wrong", "final:silent"}) {
        auto phone = Phone_With({fault});
        Phone_Test_Host host{phone};
        ASSERT_EQ(host.announce(0, 4, 0x100, 0), Bytes{0x5A});
        ASSERT_TRUE(host.start_transfer());
        Bytes answer = host.block({1, 2, 3, 4});
        const std::string name = fault;
        if (name == "final:late:90000") {
            EXPECT_EQ(answer, (Bytes{0x69, 0x5A}));
            EXPECT_EQ(host.last_output.back().delay_ms, 90000u);
        } else if (name == "final:wrong") {
            EXPECT_EQ(answer, (Bytes{0x69, 0xA5}));
        } else {
            EXPECT_EQ(answer, Bytes{0x69});
        }
        EXPECT_EQ(phone.flash()[0].bytes, (Bytes{1, 2, 3, 4})) << fault;
    }
}

TEST(PhoneFaults, HangUpPullsTheCableAndPluggingBackKeepsRecordAndFlash) {
    auto phone = Phone_With({"dump-block@2:hangup"});
    Phone_Test_Host host{phone};
    host.send({0xE1});
    host.send(Bytes(32, 'R'));
    Bytes answer = host.send({0xD6});
    EXPECT_EQ(answer.size(), 9u + 16);
    ASSERT_FALSE(host.last_output.empty());
    EXPECT_TRUE(host.last_output.back().hang_up);
    EXPECT_TRUE(phone.unplugged());
    EXPECT_TRUE(host.send({0x58}).empty());  // nobody there
    phone.plug_back_in();
    EXPECT_TRUE(host.sync_cycle());
    EXPECT_EQ(phone.record()[0], 'R');

    auto config = vphone::Default_Config();
    config.hang_up_after_bytes = 5;
    vphone::Phone_Model counted(config);
    Phone_Test_Host host2{counted};
    host2.send({0x58, 0xA3, 0xA5, 0x55});
    EXPECT_FALSE(counted.unplugged());
    EXPECT_TRUE(host2.send({0x58, 0xA3}).empty());  // the fifth byte draws no echo
    EXPECT_TRUE(counted.unplugged());
    EXPECT_EQ(counted.bytes_received(), 5u);  // the sixth byte never arrived
}

TEST(PhoneFaults, RandomAskAgainNeverExceedsWhatTheHostSurvives) {
    auto config = vphone::Default_Config();
    config.seed = 42;
    config.random_ask_again = 0.9;
    config.random_delay_ms = 50;
    vphone::Phone_Model phone(config);
    Phone_Test_Host host{phone};
    const Bytes data = Pattern(200, 8);
    ASSERT_EQ(host.announce(0, 200, 0x1000, 0), Bytes{0x5A});
    ASSERT_TRUE(host.start_transfer());
    int asked_in_a_row = 0, asked_total = 0;
    bool final_seen = false;
    for (int attempt = 0; attempt < 50 && !final_seen; ++attempt) {
        Bytes answer = host.block(Bytes(data.begin(), data.end()));
        for (const auto& out : host.last_output) {
            EXPECT_LE(out.delay_ms, 50u);
        }
        ASSERT_FALSE(answer.empty());
        if (answer[0] == 0x69) {
            final_seen = answer == Bytes{0x69, 0x5A};
            asked_in_a_row = 0;
        } else {
            ++asked_in_a_row;
            ++asked_total;
            ASSERT_LE(asked_in_a_row, 3);
            host.send({0x69});
        }
    }
    EXPECT_TRUE(final_seen);
    EXPECT_EQ(asked_total, 3);  // at p = 0.9 the cap is what stops it
}
