// The in-process port over the phone model: simulated waits, time-outs and
// unplugging, as host tests will see them through Port_Backend.
#include <gtest/gtest.h>

#include <array>

#include "tests/support/phone_backend.h"

using Bytes = std::vector<std::uint8_t>;

namespace {

vphone::Phone_Model Phone_With(const char* fault) {
    auto config = vphone::Default_Config();
    std::string error;
    auto rule = vphone::Parse_Fault_Rule(fault, &error);
    EXPECT_TRUE(rule) << error;
    config.faults.push_back(*rule);
    return vphone::Phone_Model(config);
}

bool Write(Port_Backend& port, Bytes bytes) {
    auto result = port.Write(bytes, 0);
    return result.ok && result.count == bytes.size();
}

}  // namespace

TEST(SimulatedPhoneLine, RepliesArriveAtOnceAndMissingOnesCostTheWholeLimit) {
    vphone::Phone_Model phone = Phone_With("sync-echo@2:silent");
    Simulated_Phone_Line line(phone);
    auto port = line.make_backend();
    EXPECT_FALSE(port->Open("/dev/ttyS0").opened);
    ASSERT_TRUE(port->Open(line.port_name()).opened);

    ASSERT_TRUE(Write(*port, {0x58}));
    EXPECT_EQ(port->Bytes_In_Queue(), 1u);
    std::array<std::uint8_t, 1> byte{};
    auto got = port->Read(byte, 1000);
    EXPECT_TRUE(got.ok);
    EXPECT_EQ(got.count, 1u);
    EXPECT_EQ(byte[0], 0x58);
    EXPECT_EQ(line.now_ms(), 0);

    ASSERT_TRUE(Write(*port, {0x58}));  // this echo is withheld
    got = port->Read(byte, Port_Backend::kDeadlineInForce);
    EXPECT_TRUE(got.ok);
    EXPECT_EQ(got.count, 0u);
    EXPECT_EQ(line.now_ms(), 1000);
    ASSERT_EQ(line.reads().size(), 2u);
    EXPECT_EQ(line.reads()[1].waited_ms, 1000);
    EXPECT_TRUE(line.every_read_within_limit());
}

TEST(SimulatedPhoneLine, LateReplyIsReadWhenItArrivesOrMissedWhenTooLate) {
    vphone::Phone_Model phone = Phone_With("check:delay:150");
    Simulated_Phone_Line line(phone);
    auto port = line.make_backend();
    ASSERT_TRUE(port->Open(line.port_name()).opened);
    std::array<std::uint8_t, 1> byte{};

    ASSERT_TRUE(Write(*port, {0x55}));
    EXPECT_EQ(port->Read(byte, 200).count, 1u);
    EXPECT_EQ(line.now_ms(), 150);

    ASSERT_TRUE(Write(*port, {0x55}));
    EXPECT_EQ(port->Read(byte, 100).count, 0u);  // not yet there after 100 ms
    EXPECT_EQ(line.now_ms(), 250);
    // and arrives 50 ms into the next read, under the deadline in force
    EXPECT_EQ(port->Read(byte, Port_Backend::kDeadlineInForce).count, 1u);
    EXPECT_EQ(line.now_ms(), 300);
    EXPECT_TRUE(line.every_read_within_limit());
}

TEST(SimulatedPhoneLine, UnpluggedPhoneFailsTheOpenPortAndComesBackLater) {
    auto config = vphone::Default_Config();
    config.hang_up_after_bytes = 3;
    vphone::Phone_Model phone(config);
    Simulated_Phone_Line line(phone);
    line.set_replug_after_ms(500);
    auto port = line.make_backend();
    ASSERT_TRUE(port->Open(line.port_name()).opened);
    ASSERT_TRUE(Write(*port, {0x58, 0xA3}));
    EXPECT_FALSE(port->Write(Bytes{0xA5}, 0).ok);
    std::array<std::uint8_t, 1> byte{};
    EXPECT_FALSE(port->Read(byte, 100).ok);
    EXPECT_FALSE(port->Open(line.port_name()).opened);
    port->Pause(500);
    ASSERT_TRUE(port->Open(line.port_name()).opened);
    ASSERT_TRUE(Write(*port, {0x58}));
    EXPECT_EQ(port->Read(byte, 100).count, 1u);
    EXPECT_EQ(line.opens(), 2u);
}

TEST(SimulatedPhoneLine, PortAppearsOnlyAfterThePhoneIsPluggedIn) {
    vphone::Phone_Model phone;
    Simulated_Phone_Line line(phone);
    line.set_appear_at_ms(300);
    auto port = line.make_backend();
    const Port_Open_Result early = port->Open(line.port_name());
    EXPECT_FALSE(early.opened);
    EXPECT_NE(early.error, 0);
    port->Pause(300);
    EXPECT_TRUE(port->Open(line.port_name()).opened);
}

TEST(SimulatedPhoneLine, BaudRatePacesTheReplies) {
    vphone::Phone_Model phone;
    Simulated_Phone_Line line(phone);
    line.set_baud(10000);  // 1 ms a byte
    auto port = line.make_backend();
    ASSERT_TRUE(port->Open(line.port_name()).opened);
    ASSERT_TRUE(Write(*port, {0xE0}));
    EXPECT_EQ(line.now_ms(), 1);
    std::array<std::uint8_t, 33> record{};
    EXPECT_EQ(port->Read(record, 2000).count, 33u);
    EXPECT_EQ(line.now_ms(), 34);
}
