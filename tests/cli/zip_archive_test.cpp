// The zip that support writes on Windows, read back by Info-ZIP's unzip (a
// reader the program does not use): names, UTF-8 among them, contents byte
// for byte, stored and deflated members, CRCs and times; the limits a zip
// without zip64 has; and the user's names taken out of a text as each
// system writes its paths.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "cli/private_names.h"
#include "cli/zip_archive.h"
#include "tests/support/temp_directory.h"

namespace {

std::string Output_Of(const std::string& command) {
    std::string out;
    if (std::FILE* pipe = popen(("LC_ALL=C.UTF-8 " + command).c_str(), "r")) {
        char buffer[4096];
        for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
            out.append(buffer, got);
        pclose(pipe);
    }
    return out;
}

// 2026-12-10 08:15:03 UTC.
constexpr std::int64_t kTime = 1796890503;

TEST(ZipArchive, UnzipReadsEveryMemberAsItWasAdded) {
    std::string binary;
    for (int i = 0; i < 70000; ++i)
        binary += static_cast<char>((i * 7919) >> 3);
    const struct {
        std::string name;
        std::string content;
    } members[] = {
        {"README.txt", "flashtool-cli support archive\n"},
        {"empty.txt", ""},
        {"logs/phone-001-COM3.log", std::string(100000, 'x') + "\r\nend\r\n"},
        {"logs/Caf\xc3\xa9-\xe6\x97\xa5\xe5\xbf\x97.log", "a name in UTF-8\n"},
        {"dump/dump.bin", std::string(1, '\0') + binary + "\xff"},
    };
    cli::Zip_Archive zip;
    std::string problem;
    for (const auto& member : members)
        ASSERT_TRUE(zip.Add(member.name, member.content, kTime, problem)) << problem;
    const test_support::Temp_Directory folder("zip-archive");
    const std::string path = folder.File("support.zip");
    std::ofstream(path, std::ios::binary) << zip.Bytes();

    std::string listing;
    for (const auto& member : members)
        listing += member.name + "\n";
    EXPECT_EQ(Output_Of("unzip -Z1 '" + path + "'"), listing);
    EXPECT_EQ(Output_Of("unzip -tq '" + path + "'"),
              "No errors detected in compressed data of " + path + ".\n");
    for (const auto& member : members) {
        SCOPED_TRACE(member.name);
        EXPECT_TRUE(Output_Of("unzip -p '" + path + "' '" + member.name + "'") == member.content);
    }
    // Unpacked, the UTF-8 name is the file's name, and the file its owner's alone.
    const std::string unpacked = folder.File("unpacked");
    ASSERT_EQ(Output_Of("unzip -q -d '" + unpacked + "' '" + path + "'"), "");
    const std::filesystem::path utf8 = unpacked + "/" + members[3].name;
    EXPECT_TRUE(std::filesystem::is_regular_file(utf8));
    EXPECT_EQ(std::filesystem::status(utf8).permissions(),
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    // Every member's time, as the UTC time it was given (to the even second).
    const std::string times = Output_Of("unzip -Z -T '" + path + "'");
    EXPECT_NE(times.find("20261210.081502 README.txt"), std::string::npos) << times;
    // The long log went in deflated, the empty one stored.
    const std::string verbose = Output_Of("unzip -v '" + path + "'");
    EXPECT_NE(verbose.find("Defl:"), std::string::npos) << verbose;
    EXPECT_NE(verbose.find("Stored"), std::string::npos) << verbose;
}

TEST(ZipArchive, AnEmptyArchiveIsOnlyItsEndRecord) {
    const std::string bytes = cli::Zip_Archive().Bytes();
    ASSERT_EQ(bytes.size(), 22u);
    EXPECT_EQ(bytes.substr(0, 4), "PK\x05\x06");
}

// What a zip without zip64 cannot hold is refused with its reason.
TEST(ZipArchive, LimitsAreRefusedWithTheReason) {
    const std::uint64_t four_gib = std::uint64_t{1} << 32;
    const struct {
        std::uint64_t size;
        std::uint64_t offset;
        std::uint64_t count;
        std::string name;
        std::string problem;
    } rows[] = {
        {four_gib - 2, 0, 0, "dump.bin", ""},
        {four_gib, 0, 0, "dump.bin", "dump.bin is over 4 GiB, more than a zip without zip64 holds"},
        {1, four_gib, 3, "a.log",
         "the archive is over 4 GiB before a.log, more than a zip without zip64 holds"},
        {1, 0, 65534, "a.log",
         "the archive holds 65534 members already, as many as a zip without zip64 holds"},
        {1, 0, 0, "", "a member's name must have 1 to 65534 bytes"},
        {1, 0, 0, std::string(65535, 'n'), "a member's name must have 1 to 65534 bytes"},
    };
    for (const auto& row : rows)
        EXPECT_EQ(cli::Zip_Limit_Problem(row.name, row.size, row.offset, row.count), row.problem);
}

TEST(ZipArchive, DosTimesAreTheUtcTimeWithinTheirRange) {
    const struct {
        std::int64_t seconds;
        std::uint32_t dos;
    } rows[] = {
        // 2026-12-10 08:15:03: year 46, month 12, day 10; 08:15:02.
        {kTime, (46u << 25 | 12u << 21 | 10u << 16) | (8u << 11 | 15u << 5 | 1u)},
        {0, 1u << 21 | 1u << 16},   // 1970: the first DOS day, 1980-01-01
        {-5, 1u << 21 | 1u << 16},  // before 1970 too
        // 2024-02-29 23:59:59, a leap day.
        {1709251199, (44u << 25 | 2u << 21 | 29u << 16) | (23u << 11 | 59u << 5 | 29u)},
        // Past 2107: its last even second.
        {4354819200, (127u << 25 | 12u << 21 | 31u << 16) | (23u << 11 | 59u << 5 | 29u)},
    };
    for (const auto& row : rows)
        EXPECT_EQ(cli::Dos_Date_Time(row.seconds), row.dos) << row.seconds;
}

// The home folder becomes "~" and the user's name "USER" in each form a
// path takes there: on Windows with either slash, doubled backslashes, and
// in any case; a name inside another word stays.
TEST(PrivateNames, EachSystemsPathFormsAreReplaced) {
    const cli::Private_Names windows = cli::Windows_Private_Names("C:\\Users\\Ann\\", "Ann");
    const cli::Private_Names posix = cli::Posix_Private_Names("/home/ann/", "ann");
    const struct {
        const cli::Private_Names& names;
        std::string text;
        std::string expected;
    } rows[] = {
        {windows, "log C:\\Users\\Ann\\logs\\phone-001-COM3.log by Ann",
         "log ~\\logs\\phone-001-COM3.log by USER"},
        {windows, "c:/users/ann/fw.bin", "~/fw.bin"},
        {windows, "{\"dump\":\"C:\\\\Users\\\\Ann\\\\dump.bin\"}", "{\"dump\":\"~\\\\dump.bin\"}"},
        {windows, "ANN in Channel ann", "USER in Channel USER"},
        {posix, "/home/ann/fw.bin for ann, channel /home/anna", "~/fw.bin for USER, channel ~a"},
        {posix, "Ann /HOME/ANN", "Ann /HOME/ANN"},
    };
    for (const auto& row : rows)
        EXPECT_EQ(cli::Without_Private(row.text, row.names), row.expected) << row.text;
    // A root as the home folder would turn every path into "~".
    EXPECT_TRUE(cli::Windows_Private_Names("C:\\", "").homes.empty());
    EXPECT_TRUE(cli::Posix_Private_Names("/", "").homes.empty());
}

}  // namespace
