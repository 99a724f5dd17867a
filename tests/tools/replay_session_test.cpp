// The replay of a recorded session: every trace in tests/traces reads and
// replays its own host without a deviation, and a host that writes another
// byte, less or more than the recording is caught at that byte's offset.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tools/virtual_phone/replay_session.h"
#include "tools/virtual_phone/trace_reader.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

vphone::Trace Read_Trace(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    const std::string text{std::istreambuf_iterator<char>(file), {}};
    std::string error;
    auto trace = vphone::Parse_Trace(text, &error);
    EXPECT_TRUE(trace) << path << ": " << error;
    return trace ? *trace : vphone::Trace{};
}

// The recorded host's bytes, in order, with the operation of each.
Bytes Host_Bytes(const vphone::Trace& trace) {
    Bytes host;
    for (const auto& record : trace.records) {
        if (record.kind == vphone::Trace_Kind::to_phone)
            host.insert(host.end(), record.bytes.begin(), record.bytes.end());
    }
    return host;
}

// Feeds the host bytes as a host writes them, taking every step as it comes
// due; returns how many steps were played.
std::size_t Play(vphone::Replay_Session& session, const Bytes& host, std::size_t chunk = 7) {
    std::size_t steps = 0;
    for (std::size_t at = 0;; at += chunk) {
        while (session.Next_Step()) {
            session.Step_Done();
            ++steps;
        }
        if (at >= host.size())
            break;
        session.receive(std::span(host).subspan(at, std::min(chunk, host.size() - at)));
    }
    session.Host_Finished();
    return steps;
}

std::filesystem::path Traces_Dir() {
    return FLASHTOOL_TRACES_DIR;
}

// Where the first byte of the first host record of this operation lies.
std::size_t Offset_Of(const vphone::Trace& trace, const std::string& operation,
                      std::size_t min_size = 1) {
    std::size_t offset = 0;
    for (const auto& record : trace.records) {
        if (record.kind != vphone::Trace_Kind::to_phone)
            continue;
        if (record.operation == operation && record.bytes.size() >= min_size)
            return offset;
        offset += record.bytes.size();
    }
    ADD_FAILURE() << "no host record of " << operation;
    return 0;
}

}  // namespace

TEST(ReplaySession, EveryRecordedTraceReplaysItsOwnHost) {
    std::size_t files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(Traces_Dir())) {
        if (entry.path().extension() != ".trace")
            continue;
        ++files;
        SCOPED_TRACE(entry.path().filename().string());
        const vphone::Trace trace = Read_Trace(entry.path());
        EXPECT_TRUE(trace.expect_exit.has_value());
        EXPECT_TRUE(trace.expect_last_line.has_value());
        for (const bool any_image : {false, true}) {
            vphone::Replay_Session session(trace, any_image);
            const Bytes host = Host_Bytes(trace);
            Play(session, host);
            EXPECT_EQ(session.Deviations(), std::vector<std::string>{});
            EXPECT_EQ(session.Host_Bytes_Received(), host.size());
            EXPECT_EQ(session.Next_Step(), nullptr) << "a phone step never came due";
        }
    }
    EXPECT_GE(files, 2u);
}

TEST(ReplaySession, AnEditedHostByteIsCaughtWithItsOffset) {
    const vphone::Trace trace = Read_Trace(Traces_Dir() / "good-update.trace");
    const Bytes host = Host_Bytes(trace);
    ASSERT_FALSE(host.empty());
    struct Case {
        const char* name;
        std::size_t offset;
        bool any_image;
        bool fix_sum;          // make the block's sum match the edited data
        const char* expected;  // empty: no deviation
        std::size_t reported;  // the offset the deviation names
    };
    const std::size_t block = Offset_Of(trace, "block 1", 3);
    const std::size_t version = Offset_Of(trace, "Read_Phone_Version");
    const std::size_t regions = Offset_Of(trace, "Set_Regions", 4) + 1;
    const std::size_t record = Offset_Of(trace, "Write_Phone_Version", 32) + 20;
    const Case cases[] = {
        {"the handshake's first byte", 0, false, false, "Sync_Boot_Loader", 0},
        {"the version read", version, false, false,
         "Read_Phone_Version: expected 0xE0 (byte 1 of 1 recorded), came 0xE1", version},
        {"block data, exact image", block + 100, false, false, "block 1: expected", block + 100},
        {"block data, any image, sum left", block + 100, true, false, "block 1: expected the sum",
         block + 0x8000},
        {"block data, any image, sum fixed", block + 100, true, true, "", 0},
        {"the region announcement, any image", regions, true, false, "Set_Regions", regions},
        {"the version record written, exact image", record, false, false, "Write_Phone_Version",
         record},
        {"the version record written, any image", record, true, false, "", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes edited = host;
        edited[c.offset] = static_cast<std::uint8_t>(edited[c.offset] + 1);
        if (c.fix_sum) {
            // The block of 32768 bytes is followed by its sum, high byte first.
            const std::size_t sum_at = block + 0x8000;
            const std::uint16_t sum =
                static_cast<std::uint16_t>((edited[sum_at] << 8 | edited[sum_at + 1]) + 1);
            edited[sum_at] = static_cast<std::uint8_t>(sum >> 8);
            edited[sum_at + 1] = static_cast<std::uint8_t>(sum);
        }
        vphone::Replay_Session session(trace, c.any_image);
        Play(session, edited);
        if (std::string(c.expected).empty()) {
            EXPECT_EQ(session.Deviations(), std::vector<std::string>{});
            continue;
        }
        ASSERT_EQ(session.Deviations().size(), 1u);
        const std::string& line = session.Deviations()[0];
        EXPECT_EQ(line.rfind("host byte " + std::to_string(c.reported + 1) + ", ", 0), 0u) << line;
        EXPECT_NE(line.find(c.expected), std::string::npos) << line;
    }
}

TEST(ReplaySession, AHostThatStopsEarlyOrWritesOnIsCaught) {
    const vphone::Trace trace = Read_Trace(Traces_Dir() / "good-update.trace");
    const Bytes host = Host_Bytes(trace);
    {
        SCOPED_TRACE("stops 10 bytes early");
        vphone::Replay_Session session(trace, false);
        Play(session, Bytes(host.begin(), host.end() - 10));
        ASSERT_EQ(session.Deviations().size(), 1u);
        EXPECT_NE(
            session.Deviations()[0].find("host byte " + std::to_string(host.size() - 9) + ", "),
            std::string::npos);
        EXPECT_NE(session.Deviations()[0].find("came nothing"), std::string::npos);
    }
    {
        SCOPED_TRACE("writes two bytes more: one line");
        vphone::Replay_Session session(trace, false);
        Bytes more = host;
        more.push_back(0x60);
        more.push_back(0x60);
        Play(session, more);
        ASSERT_EQ(session.Deviations().size(), 1u);
        EXPECT_NE(session.Deviations()[0].find("after the end of the recording"),
                  std::string::npos);
    }
}

TEST(ReplaySession, AHangUpIsPlayedWhereTheHostMetIt) {
    const vphone::Trace trace = Read_Trace(Traces_Dir() / "unplugged-mid-block.trace");
    vphone::Replay_Session session(trace, false);
    const Bytes host = Host_Bytes(trace);
    bool hung_up = false;
    for (std::size_t at = 0; at <= host.size(); ++at) {
        while (const vphone::Replay_Step* step = session.Next_Step()) {
            if (step->kind == vphone::Replay_Step::Kind::hang_up) {
                EXPECT_FALSE(hung_up) << "one hang-up";
                hung_up = true;
                EXPECT_EQ(step->operation, "block 2");
            }
            session.Step_Done();
        }
        if (at < host.size())
            session.receive(std::span(host).subspan(at, 1));
    }
    EXPECT_TRUE(hung_up);
    EXPECT_EQ(session.Deviations(), std::vector<std::string>{});
}

TEST(TraceReader, ReadsBothVersionsAndRefusesOtherText) {
    std::string error;
    const auto version_2 = vphone::Parse_Trace(
        "flashtool-trace 2\n# expect-exit: 5\n# expect-last-line: a b\n"
        "           0 open        [Find_Phone] /dev/pts/3\n"
        "          10 lines       [Find_Phone] 115200 8N1\n"
        "         200 >           [Sync_Boot_Loader] 58\n"
        "         300 <           [block 1] 40 bytes\n"
        "             +000000 00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F 10 11 12 13 14 15 "
        "16 17 18 19 1A 1B 1C 1D 1E 1F\n"
        "             +000020 20 21 22 23 24 25 26 27\n"
        "         400 hang-up     [block 1] read of 1 bytes ended short after 0 (hang-up)\n",
        &error);
    ASSERT_TRUE(version_2) << error;
    EXPECT_EQ(version_2->version, 2);
    EXPECT_EQ(version_2->expect_exit, 5);
    EXPECT_EQ(version_2->expect_last_line, "a b");
    ASSERT_EQ(version_2->records.size(), 5u);
    EXPECT_EQ(version_2->records[1].kind, vphone::Trace_Kind::lines);
    EXPECT_EQ(version_2->records[1].detail, "115200 8N1");
    EXPECT_EQ(version_2->records[3].operation, "block 1");
    EXPECT_EQ(version_2->records[3].bytes.size(), 40u);
    EXPECT_EQ(version_2->records[3].bytes[39], 0x27);
    EXPECT_EQ(version_2->records[4].kind, vphone::Trace_Kind::hang_up);

    const auto version_1 = vphone::Parse_Trace(
        "# flashtool-cli trace, started Thu Dec 10 03:20:53 2026\n"
        "      0.071 flashtool-cli            -- command flash\n"
        "    122.776 Find_Phone               -- open /dev/pts/0\n"
        "    230.061 Sync_Boot_Loader         >phone 1 58\n"
        "    301.500 Download_Regions         -- read of 1 bytes ended short after 0 (time-out)\n",
        &error);
    ASSERT_TRUE(version_1) << error;
    EXPECT_EQ(version_1->version, 1);
    ASSERT_EQ(version_1->records.size(), 4u);
    EXPECT_EQ(version_1->records[0].kind, vphone::Trace_Kind::note);
    EXPECT_EQ(version_1->records[1].kind, vphone::Trace_Kind::open);
    EXPECT_EQ(version_1->records[1].detail, "/dev/pts/0");
    EXPECT_EQ(version_1->records[2].time_us, 230061);
    EXPECT_EQ(version_1->records[3].kind, vphone::Trace_Kind::time_out);

    for (const char* bad :
         {"", "hello\n", "flashtool-trace 2\n12 sideways [x] 00\n",
          "flashtool-trace 2\n12 > [x] 0G\n", "flashtool-trace 2\n+000000 00\n"}) {
        SCOPED_TRACE(bad);
        EXPECT_FALSE(vphone::Parse_Trace(bad, &error));
    }
}
