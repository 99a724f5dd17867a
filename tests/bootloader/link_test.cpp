// The phone search, the synchronisation handshake and the closing byte.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "boot_fixture.h"

namespace {

using Open_Outcome = ScriptedPort::Open_Outcome;

void Script_Good_Cycles(ScriptedPort& port, int cycles) {
    for (int i = 0; i < cycles; ++i) {
        port.Expect({0x58}).Reply({0x58}).Expect({0xA3}).Reply({0x5C}).Expect({0xA5, 0x55});
        port.Reply({0xAA});
    }
}

// A lister whose answer the test decides per pass; counts its calls.
class Scripted_Lister final : public PortLister {
  public:
    explicit Scripted_Lister(std::function<int(int pass, std::vector<Port_Candidate>&)> rule)
        : m_rule(std::move(rule)) {}
    int list(std::vector<Port_Candidate>& ports) override { return m_rule(calls++, ports); }
    int calls = 0;

  private:
    std::function<int(int, std::vector<Port_Candidate>&)> m_rule;
};

// Search pauses get their own length so they can be told from the 100 ms
// settling delay of each open.
constexpr std::uint32_t kPause = 7;

struct Search_Rig : Boot_Rig {
    explicit Search_Rig(std::vector<std::string> ports = {kPhonePath})
        : Boot_Rig(std::move(ports)) {
        boot::Time_Limits limits = boot::kProtocolTimeLimits;
        limits.search_pause = kPause;
        com->Set_Time_Limits(limits);
    }
    long Pauses() const { return std::count(port.sleeps().begin(), port.sleeps().end(), kPause); }
    long Count_Events(const std::string& event) const {
        return std::count(port.events().begin(), port.events().end(), event);
    }
};

TEST(Handshake, TwentyGoodCyclesPassWithTheirOwnReadLimits) {
    Boot_Rig rig;
    rig.Open();
    Script_Good_Cycles(rig.port, 20);
    EXPECT_TRUE(rig.com->Sync_Boot_Loader());
    rig.Expect_Script_Kept();

    ASSERT_EQ(rig.port.reads().size(), 60u);
    for (std::size_t i = 0; i < 60; i += 3) {
        EXPECT_EQ(rig.port.reads()[i].timeout_ms, 1000u);
        EXPECT_EQ(rig.port.reads()[i + 1].timeout_ms, 3000u);
        EXPECT_EQ(rig.port.reads()[i + 2].timeout_ms, 100u);
    }
}

TEST(Handshake, FirstDeviationInAnyCycleFailsWithoutRetry) {
    // Each case: 6 good cycles, then the seventh goes wrong in one step.
    const std::vector<std::function<void(ScriptedPort&)>> faults = {
        [](ScriptedPort& p) { p.Expect({0x58}).Reply({0x59}); },  // wrong echo
        [](ScriptedPort& p) { p.Expect({0x58}).Silence(); },      // no echo
        [](ScriptedPort& p) { p.Expect({0x58}).Reply({0x58}).Expect({0xA3}).Reply({0x5D}); },
        [](ScriptedPort& p) { p.Expect({0x58}).Reply({0x58}).Expect({0xA3}).Silence(); },
        [](ScriptedPort& p) {  // wrong complement of 0x55
            p.Expect({0x58}).Reply({0x58}).Expect({0xA3}).Reply({0x5C}).Expect({0xA5, 0x55});
            p.Reply({0x55});
        },
        [](ScriptedPort& p) {  // no complement of 0x55
            p.Expect({0x58}).Reply({0x58}).Expect({0xA3}).Reply({0x5C}).Expect({0xA5, 0x55});
            p.Silence();
        },
        [](ScriptedPort& p) { p.Fail_Write(); },                               // 0x58 not written
        [](ScriptedPort& p) { p.Expect({0x58}).Reply({0x58}).Fail_Write(); },  // 0xA3
        [](ScriptedPort& p) {
            p.Expect({0x58}).Reply({0x58}).Expect({0xA3}).Reply({0x5C}).Fail_Write();
        },
    };
    for (std::size_t i = 0; i < faults.size(); ++i) {
        SCOPED_TRACE("fault case " + std::to_string(i));
        Boot_Rig rig;
        rig.Open();
        Script_Good_Cycles(rig.port, 6);
        faults[i](rig.port);
        EXPECT_FALSE(rig.com->Sync_Boot_Loader());
        rig.Expect_Script_Kept();  // nothing written or read after the deviation
    }
}

TEST(Handshake, ConfirmationEchoesTheGivenCommand) {
    Boot_Rig rig;
    rig.Open();
    rig.port.Reply({0xE0}).Expect({0xA3}).Reply({0x5C}).Expect({0xA5});
    EXPECT_TRUE(rig.com->Confirm_Command(0xE0));
    rig.Expect_Script_Kept();
}

TEST(EndLink, WritesTheClosingByteAndReportsAFailedWrite) {
    Boot_Rig rig;
    rig.Open();
    rig.port.Expect({0x60});
    EXPECT_TRUE(rig.com->End_Link());
    rig.Expect_Script_Kept();
    EXPECT_TRUE(rig.port.reads().empty());

    rig.port.Fail_Write();
    EXPECT_FALSE(rig.com->End_Link());
}

TEST(PhoneSearch, FindsAPhoneThatAppearsInALaterPass) {
    Search_Rig rig;
    // The phone is still being plugged in: its port is missing for five passes.
    rig.port.open_rule = [](const std::string&, int index) {
        return index < 5 ? Open_Outcome::kFails : Open_Outcome::kOpens;
    };
    Script_Good_Cycles(rig.port, 20);
    Port_Candidate found{"untouched", "untouched", 99};
    EXPECT_TRUE(rig.com->Find_Phone(&found));
    rig.Expect_Script_Kept();
    EXPECT_EQ(found.device_path, kPhonePath);
    EXPECT_EQ(rig.Pauses(), 6);
    EXPECT_TRUE(rig.com->Is_Open());  // left open and synchronised
    EXPECT_EQ(rig.Count_Events("close"), 0);
    EXPECT_TRUE(rig.com->Refused_Ports().empty());
}

TEST(PhoneSearch, GivesUpAfterTwentyOnePassesAndTwentyOnePauses) {
    Search_Rig rig;
    auto lister = std::make_unique<Scripted_Lister>([](int, std::vector<Port_Candidate>& ports) {
        ports = {{kPhonePath, kPhonePath, 0}};
        return 0;
    });
    Scripted_Lister* lister_seen = lister.get();
    rig.com->Set_Port_Lister(std::move(lister));
    // The port opens every time, but nothing on it echoes 0x58.
    for (int pass = 0; pass < 21; ++pass)
        rig.port.Expect({0x58}).Silence();

    Port_Candidate found{"untouched", "untouched", 99};
    EXPECT_FALSE(rig.com->Find_Phone(&found));
    rig.Expect_Script_Kept();
    EXPECT_EQ(lister_seen->calls, 21);
    EXPECT_EQ(rig.Pauses(), 21);
    EXPECT_EQ(rig.Count_Events("open /dev/phone"), 21);
    EXPECT_EQ(rig.Count_Events("close"), 21);  // each port that fails is closed
    EXPECT_EQ(found.device_path, "untouched");
    EXPECT_FALSE(rig.com->Is_Open());
    // Only simulated time passed: 21 pauses, 21 settling delays, 21 echo limits.
    EXPECT_EQ(rig.port.now_ms(), 21u * (kPause + 100 + 1000));
}

TEST(PhoneSearch, ListingResultsDecideBetweenEmptyPassAndGivingUp) {
    {
        SCOPED_TRACE("no port at all: every pass is empty");
        Search_Rig rig;
        auto lister = std::make_unique<Scripted_Lister>(
            [](int, std::vector<Port_Candidate>& ports) { return ports.clear(), 2; });
        Scripted_Lister* seen = lister.get();
        rig.com->Set_Port_Lister(std::move(lister));
        EXPECT_FALSE(rig.com->Find_Phone(nullptr));
        EXPECT_EQ(seen->calls, 21);
        EXPECT_EQ(rig.Pauses(), 21);
    }
    {
        SCOPED_TRACE("a port appears once the listing stops saying none");
        Search_Rig rig;
        rig.com->Set_Port_Lister(
            std::make_unique<Scripted_Lister>([](int pass, std::vector<Port_Candidate>& ports) {
                if (pass < 3)
                    return 2;
                ports = {{kPhonePath, kPhonePath, 0}};
                return 0;
            }));
        Script_Good_Cycles(rig.port, 20);
        EXPECT_TRUE(rig.com->Find_Phone(nullptr));
        EXPECT_EQ(rig.Pauses(), 4);
    }
    for (int code : {1, 3, 4}) {
        SCOPED_TRACE("listing failure " + std::to_string(code) + " ends the search at once");
        Search_Rig rig;
        auto lister =
            std::make_unique<Scripted_Lister>([code](int, std::vector<Port_Candidate>& ports) {
                ports = {{kPhonePath, kPhonePath, 0}};
                return code;
            });
        Scripted_Lister* seen = lister.get();
        rig.com->Set_Port_Lister(std::move(lister));
        EXPECT_FALSE(rig.com->Find_Phone(nullptr));
        EXPECT_EQ(seen->calls, 1);
        EXPECT_EQ(rig.Pauses(), 1);
        EXPECT_TRUE(rig.port.events().empty());  // no port opened
    }
}

TEST(PhoneSearch, WalksPortsInListOrderAndStopsAtTheFirstThatAnswers) {
    Search_Rig rig({"/dev/a", "/dev/b", "/dev/c"});
    rig.port.open_rule = [](const std::string& name, int) {
        return name == "/dev/a" ? Open_Outcome::kFails : Open_Outcome::kOpens;
    };
    rig.port.Expect({0x58}).Reply({0x00});  // /dev/b answers garbage
    Script_Good_Cycles(rig.port, 20);       // /dev/c is the phone
    Port_Candidate found;
    EXPECT_TRUE(rig.com->Find_Phone(&found));
    rig.Expect_Script_Kept();
    EXPECT_EQ(found.device_path, "/dev/c");
    const std::vector<std::string> expected = {"open /dev/a failed", "open /dev/b", "close",
                                               "open /dev/c"};
    EXPECT_EQ(rig.port.events(), expected);  // a failed open is not closed
}

// A port held by another program is skipped and remembered like one the user
// may not open; a port that merely failed is not.
TEST(PhoneSearch, ListsEachRefusedPortOnceWithItsReason) {
    Search_Rig rig({"/dev/a", "/dev/b", "/dev/c", "/dev/a"});
    rig.port.open_rule = [](const std::string& name, int) {
        return name == "/dev/a"   ? Open_Outcome::kRefused
               : name == "/dev/b" ? Open_Outcome::kInUse
                                  : Open_Outcome::kFails;
    };
    EXPECT_FALSE(rig.com->Find_Phone(nullptr));
    EXPECT_EQ(rig.Count_Events("open /dev/a refused"), 42);
    EXPECT_EQ(rig.Count_Events("open /dev/b refused"), 21);
    ASSERT_EQ(rig.com->Refused_Ports().size(), 2u);
    EXPECT_EQ(rig.com->Refused_Ports()[0].device_path, "/dev/a");
    EXPECT_EQ(rig.com->Refused_Ports()[0].reason, Open_Refusal::kNoPermission);
    EXPECT_EQ(rig.com->Refused_Ports()[1].device_path, "/dev/b");
    EXPECT_EQ(rig.com->Refused_Ports()[1].reason, Open_Refusal::kInUse);

    // A new search starts its list afresh.
    rig.port.open_rule = nullptr;
    Script_Good_Cycles(rig.port, 20);
    EXPECT_TRUE(rig.com->Find_Phone(nullptr));
    EXPECT_TRUE(rig.com->Refused_Ports().empty());
}

}  // namespace
