// Reading, comparing and writing the 32-byte version record.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "boot_fixture.h"
#include "download/texts.h"

namespace {

// prefix 0-15, version code 16-19, language 20-23, checked byte 24,
// number 25-29, spare 30-31
Version_Record Make_Record(const char* number = "00123") {
    Version_Record record{};
    const std::string text =
        std::string("CVLbootloaderVC_") + "V418" + "TWN1" + "A" + number + "xy";
    std::memcpy(record.data(), text.data(), record.size());
    return record;
}

TEST(ReadPhoneVersion, StoresTheRecordAndShowsItInOneCall) {
    Boot_Rig rig;
    rig.Open();
    Version_Record sent = Make_Record();
    sent[31] = 0;  // zero bytes are stored, but the field shows nothing for them
    sent[20] = 0;
    rig.port.Expect({0xE0}).Reply({0x5A}).Reply(sent);
    Version_Record phone{};
    EXPECT_EQ(boot::Code(rig.com->Read_Phone_Version(phone)), 0);
    rig.Expect_Script_Kept();
    EXPECT_EQ(phone, sent);
    std::string shown(reinterpret_cast<const char*>(sent.data()), 31);
    shown.erase(20, 1);
    ASSERT_EQ(rig.output.old_tedit_calls, std::vector<std::string>{shown});
    EXPECT_EQ(rig.output.old_tedit, shown);
    EXPECT_EQ(rig.port.reads().back().timeout_ms, 2000u);
}

TEST(ReadPhoneVersion, EachFailureHasItsCodeAndKeepsTheOldRecord) {
    struct Case {
        const char* name;
        std::function<void(ScriptedPort&)> script;
        int code;
    };
    const Version_Record record = Make_Record();
    const std::vector<Case> cases = {
        {"0xE0 not written", [](ScriptedPort& p) { p.Fail_Write(); }, 1},
        {"no answer", [](ScriptedPort& p) { p.Expect({0xE0}).Silence(); }, 2},
        {"answer not 0x5A", [](ScriptedPort& p) { p.Expect({0xE0}).Reply({0x5B}); }, 3},
        {"31 of 32 bytes",
         [&](ScriptedPort& p) {
             p.Expect({0xE0}).Reply({0x5A}).Reply(std::span(record).first(31));
         },
         4},
        {"0xE0 write past its deadline", [](ScriptedPort& p) { p.Stall_Write(); }, 21},
        {"stopped while the record comes",
         [](ScriptedPort& p) { p.Expect({0xE0}).Reply({0x5A}).Stop_Here(); }, 22},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Boot_Rig rig;
        rig.Open();
        c.script(rig.port);
        Version_Record phone = Make_Record("99999");
        const Version_Record before = phone;
        EXPECT_EQ(boot::Code(rig.com->Read_Phone_Version(phone)), c.code);
        rig.Expect_Script_Kept();
        EXPECT_EQ(phone, before);
        EXPECT_TRUE(rig.output.old_tedit_calls.empty());
    }
}

TEST(CompareVersion, EveryOutcomeWithItsNotice) {
    struct Case {
        const char* name;
        std::function<void(Version_Record& image, Version_Record& phone)> change;
        int result;
        std::vector<std::string> notices;
    };
    const std::vector<Case> cases = {
        {"equal numbers", [](auto&, auto&) {}, 0, {std::string(notice::kSameVersion)}},
        {"image newer", [](auto& image, auto&) { image[29] = '4'; }, 0, {}},
        {"phone newer",
         [](auto&, auto& phone) { phone[25] = '1'; },
         0,
         {std::string(notice::kPhoneNewer)}},
        {"only the spare bytes differ",
         [](auto&, auto& phone) { phone[30] = 'Q', phone[31] = 0; },
         0,
         {std::string(notice::kSameVersion)}},
        {"prefix and language differ",
         [](auto&, auto& phone) { phone[15] = '-', phone[22] = 'X'; },
         1,
         {std::string(notice::kFirstRun)}},
        {"version code differs",
         [](auto&, auto& phone) { phone[19] = '9'; },
         2,
         {std::string(notice::kVersionMismatch)}},
        {"language differs",
         [](auto&, auto& phone) { phone[20] = 'U'; },
         3,
         {std::string(notice::kLanguageMismatch)}},
        {"byte 24 differs", [](auto&, auto& phone) { phone[24] = 'B'; }, 4, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Boot_Rig rig;
        Version_Record image = Make_Record();
        Version_Record phone = Make_Record();
        c.change(image, phone);
        EXPECT_EQ(boot::Code(rig.com->Compare_Version(image, phone)), c.result);
        EXPECT_EQ(rig.output.memo, c.notices);
    }
}

TEST(CompareVersion, NumbersAreComparedAsNumbersNotText) {
    Boot_Rig rig;
    // ":" is one past '9': "0001:" reads as 10 + 10 = 20, above "00019".
    EXPECT_EQ(boot::Code(rig.com->Compare_Version(Make_Record("0001:"), Make_Record("00019"))), 0);
    EXPECT_TRUE(rig.output.memo.empty());
    EXPECT_EQ(boot::Code(rig.com->Compare_Version(Make_Record("00020"), Make_Record("0001:"))), 0);
    EXPECT_EQ(rig.output.memo, std::vector<std::string>{std::string(notice::kSameVersion)});
}

TEST(DigitsToInt, WeighsEachCharacterBySignedCodeAndPlace) {
    EXPECT_EQ(CComport::Digits_To_Int("00123", 5), 123);
    EXPECT_EQ(CComport::Digits_To_Int("12345", 5), 12345);
    EXPECT_EQ(CComport::Digits_To_Int("99999", 5), 99999);
    EXPECT_EQ(CComport::Digits_To_Int("0000A", 5), 'A' - '0');
    // A byte above 0x7F counts as negative: (-1 - 48) in the tens place.
    EXPECT_EQ(CComport::Digits_To_Int("000\xFF"
                                      "0",
                                      5),
              -490);
    EXPECT_EQ(CComport::Digits_To_Int("\xFF\xFF\xFF\xFF\xFF", 5), -49 * 11111);
    EXPECT_EQ(CComport::Digits_To_Int("7", 0), 0);
}

TEST(WritePhoneVersion, SendsTheRecordWithoutWaitingForAnAnswer) {
    Boot_Rig rig;
    rig.Open();
    const Version_Record image = Make_Record();
    rig.port.Expect({0xE1}).Reply({0x5A}).Expect(image);
    EXPECT_EQ(boot::Code(rig.com->Write_Phone_Version(image)), 0);
    rig.Expect_Script_Kept();
    EXPECT_EQ(rig.port.reads().size(), 1u);
    EXPECT_EQ(rig.port.reads()[0].timeout_ms, 2000u);
}

TEST(WritePhoneVersion, EachFailureHasItsCode) {
    const Version_Record image = Make_Record();
    const std::vector<std::pair<std::function<void(ScriptedPort&)>, int>> cases = {
        {[](ScriptedPort& p) { p.Fail_Write(); }, 1},
        {[](ScriptedPort& p) { p.Expect({0xE1}).Silence(); }, 2},
        {[](ScriptedPort& p) { p.Expect({0xE1}).Reply({0xA5}); }, 3},
        {[](ScriptedPort& p) { p.Expect({0xE1}).Reply({0x5A}).Fail_Write(); }, 1},
        {[](ScriptedPort& p) { p.Expect({0xE1}).Reply({0x5A}).Stall_Write(); }, 21},
        {[](ScriptedPort& p) { p.Expect({0xE1}).Stop_Here(); }, 22},
    };
    for (std::size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE("case " + std::to_string(i));
        Boot_Rig rig;
        rig.Open();
        cases[i].first(rig.port);
        EXPECT_EQ(boot::Code(rig.com->Write_Phone_Version(image)), cases[i].second);
        rig.Expect_Script_Kept();
    }
}

}  // namespace
