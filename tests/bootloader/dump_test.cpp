// Dumping the boot loader into the dump file, and finding the version
// record in that file again. The file is a new one for every dump, made as
// the download command makes it.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "boot_fixture.h"
#include "platform/file_handle.h"
#include "platform/files.h"
#include "tests/support/temp_directory.h"

namespace {

namespace fs = std::filesystem;

using test_support::Temp_Directory;

std::string Read_All(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}
void Write_All(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}
// A new dump file at path; null where none can be made.
File_Handle New_Dump(const std::string& path) {
    return File_Handle(platform::Create_New_File(path));
}
// The dump's bytes as they stand once it is closed.
std::string Dumped(File_Handle& dump, const std::string& path) {
    dump.reset();
    return Read_All(path);
}
std::span<const std::uint8_t> Bytes(const std::string& text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

// The dump's header: 0x5A, then N and S big-endian.
void Script_Header(ScriptedPort& port, std::uint32_t count, std::uint32_t size) {
    port.Expect({0xD6}).Reply({0x5A});
    port.Reply({std::uint8_t(count >> 24), std::uint8_t(count >> 16), std::uint8_t(count >> 8),
                std::uint8_t(count)});
    port.Reply({std::uint8_t(size >> 24), std::uint8_t(size >> 16), std::uint8_t(size >> 8),
                std::uint8_t(size)});
}

TEST(BackupBootLoader, WritesEveryBlockInOrder) {
    Temp_Directory dir("flashtool-boot");
    const std::string path = dir.File("VANTREL");
    File_Handle dump = New_Dump(path);
    Boot_Rig rig;
    rig.Open();
    Script_Header(rig.port, 3, 4);
    rig.port.Reply(Bytes("abcd")).Reply(Bytes("efgh")).Reply(Bytes("ijkl"));
    EXPECT_EQ(boot::Code(rig.com->Backup_Boot_Loader(dump.get())), 0);
    rig.Expect_Script_Kept();
    EXPECT_EQ(Dumped(dump, path), "abcdefghijkl");

    // One read per block, each under the block limit.
    ASSERT_EQ(rig.port.reads().size(), 6u);
    for (std::size_t i = 3; i < 6; ++i) {
        EXPECT_EQ(rig.port.reads()[i].wanted, 4u);
        EXPECT_EQ(rig.port.reads()[i].timeout_ms, 20000u);
    }
}

TEST(BackupBootLoader, EmptyDumpsReadNoBlock) {
    Temp_Directory dir("flashtool-boot");
    const std::string path = dir.File("VANTREL");
    for (auto [count, size] : {std::pair{0u, 2048u}, std::pair{0xFFFFFFFFu, 0u}}) {
        SCOPED_TRACE(std::to_string(count) + " blocks of " + std::to_string(size));
        fs::remove(path);
        File_Handle dump = New_Dump(path);
        Boot_Rig rig;
        rig.Open();
        Script_Header(rig.port, count, size);
        EXPECT_EQ(boot::Code(rig.com->Backup_Boot_Loader(dump.get())), 0);
        rig.Expect_Script_Kept();
        EXPECT_EQ(rig.port.reads().size(), 3u);
        EXPECT_EQ(Dumped(dump, path), "");
    }
}

TEST(BackupBootLoader, RefusesAnUntrustedHeaderBeforeReadingABlock) {
    Temp_Directory dir("flashtool-boot");
    const std::string path = dir.File("VANTREL");
    struct Case {
        std::uint32_t count, size;
        int code;
    };
    // 2048 fits the receive buffer; 2049 does not. 2^21 blocks of 2048 bytes
    // make 2^32, one past what 32 bits hold. 24929 blocks of 673 bytes and
    // 65281 of 257 make 16 MiB + 1, one byte more than a dump may hold.
    for (const Case c : {Case{1, 2049, 7}, Case{0, 0xFFFFFFFF, 7}, Case{0x200000, 2048, 8},
                         Case{0xFFFFFFFF, 2, 8}, Case{24929, 673, 9}, Case{65281, 257, 9}}) {
        SCOPED_TRACE(std::to_string(c.count) + " blocks of " + std::to_string(c.size));
        fs::remove(path);
        File_Handle dump = New_Dump(path);
        Boot_Rig rig;
        rig.Open();
        Script_Header(rig.port, c.count, c.size);
        rig.port.Reply(std::vector<std::uint8_t>(64, 0x11));  // the phone would go on sending
        EXPECT_EQ(boot::Code(rig.com->Backup_Boot_Loader(dump.get())), c.code);
        EXPECT_EQ(rig.port.reads().size(), 3u);
        EXPECT_EQ(Dumped(dump, path), "");
    }
    // The largest block that fits, and the largest dump taken.
    for (const std::uint32_t count : {1u, boot::kMaxDumpBytes / 2048}) {
        SCOPED_TRACE(std::to_string(count) + " blocks of 2048");
        const std::uint32_t size = 2048;
        fs::remove(path);
        File_Handle dump = New_Dump(path);
        Boot_Rig rig;
        rig.Open();
        Script_Header(rig.port, count, size);
        rig.port.Reply(std::vector<std::uint8_t>(std::size_t{count} * size, 0x22));
        EXPECT_EQ(boot::Code(rig.com->Backup_Boot_Loader(dump.get())), 0);
        rig.Expect_Script_Kept();
        EXPECT_EQ(Dumped(dump, path), std::string(std::size_t{count} * size, '\x22'));
    }
}

TEST(BackupBootLoader, LinkFailuresHaveTheirCodesAndKeepBlocksAlreadyReceived) {
    Temp_Directory dir("flashtool-boot");
    struct Case {
        const char* name;
        std::function<void(ScriptedPort&)> script;
        int code;
        std::string kept;
    };
    const std::vector<Case> cases = {
        {"0xD6 not written", [](ScriptedPort& p) { p.Fail_Write(); }, 1, ""},
        {"no answer", [](ScriptedPort& p) { p.Expect({0xD6}).Silence(); }, 2, ""},
        {"answer not 0x5A", [](ScriptedPort& p) { p.Expect({0xD6}).Reply({0x00}); }, 3, ""},
        {"block count short",
         [](ScriptedPort& p) {
             p.Expect({0xD6}).Reply({0x5A, 0, 0, 1});
         },
         4, ""},
        {"block size short",
         [](ScriptedPort& p) {
             p.Expect({0xD6}).Reply({0x5A, 0, 0, 0, 2, 0, 0});
         },
         5, ""},
        {"second block short",
         [](ScriptedPort& p) {
             Script_Header(p, 3, 4);
             p.Reply(Bytes("abcd")).Reply(Bytes("ef"));
         },
         5, "abcd"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir.File(std::string("dump-") + c.name);
        File_Handle dump = New_Dump(path);
        Boot_Rig rig;
        rig.Open();
        c.script(rig.port);
        EXPECT_EQ(boot::Code(rig.com->Backup_Boot_Loader(dump.get())), c.code);
        rig.Expect_Script_Kept();
        EXPECT_EQ(Dumped(dump, path), c.kept);
    }
}

TEST(BackupBootLoader, AFileThatCannotBeWrittenGivesItsOwnCode) {
    {
        SCOPED_TRACE("no file could be made: the phone is not asked");
        Temp_Directory dir("flashtool-boot");
        Boot_Rig rig;
        rig.Open();
        const File_Handle dump = New_Dump(dir.File("missing/VANTREL"));
        ASSERT_FALSE(dump);
        EXPECT_EQ(boot::Code(rig.com->Backup_Boot_Loader(dump.get())), 6);
        EXPECT_TRUE(rig.port.writes().empty());
    }
    if (fs::exists("/dev/full")) {
        SCOPED_TRACE("full disk: the dump is still received to its end");
        Boot_Rig rig;
        rig.Open();
        Script_Header(rig.port, 2, 1024);
        rig.port.Reply(std::vector<std::uint8_t>(2048, 0x33));
        const File_Handle full(std::fopen("/dev/full", "w+b"));
        ASSERT_TRUE(full);
        EXPECT_EQ(boot::Code(rig.com->Backup_Boot_Loader(full.get())), 6);
        rig.Expect_Script_Kept();
    }
}

// The dump file as the search reads it; null when there is none.
File_Handle Opened(const std::string& path) {
    return File_Handle(std::fopen(path.c_str(), "rb"));
}

std::string With_Marker_At(std::size_t file_size, std::size_t position) {
    std::string bytes(file_size, '.');
    const std::string record = "CVLbootloaderVC_V418TWN1A00123xy";
    bytes.replace(position, std::min(record.size(), file_size - position),
                  record.substr(0, file_size - position));
    return bytes;
}

TEST(FindVersionInBackup, TakesTheRecordThatStartsWithTheMarker) {
    Temp_Directory dir("flashtool-boot");
    const std::string path = dir.File("VANTREL");
    for (std::size_t position : {std::size_t{0}, std::size_t{1000}, std::size_t{4096 - 32}}) {
        SCOPED_TRACE("marker at " + std::to_string(position));
        Write_All(path, With_Marker_At(5000, position));
        Boot_Rig rig;
        Version_Record destination{};
        EXPECT_EQ(boot::Code(rig.com->Find_Version_In_Backup(Opened(path).get(),
                                                             kPhoneModel.dump_marker, destination)),
                  0);
        EXPECT_EQ(std::string(destination.begin(), destination.end()),
                  "CVLbootloaderVC_V418TWN1A00123xy");
    }
    {
        SCOPED_TRACE("the first of two markers wins");
        std::string bytes = With_Marker_At(4096, 100);
        bytes.replace(40, 16, "CVLbootloaderVC_");
        Write_All(path, bytes);
        Boot_Rig rig;
        Version_Record destination{};
        EXPECT_EQ(boot::Code(rig.com->Find_Version_In_Backup(Opened(path).get(),
                                                             kPhoneModel.dump_marker, destination)),
                  0);
        EXPECT_EQ(std::string(destination.begin(), destination.end()), bytes.substr(40, 32));
    }
}

TEST(FindVersionInBackup, LeavesTheRecordAloneWithoutAWholeRecordInTheFirst4096Bytes) {
    Temp_Directory dir("flashtool-boot");
    struct Case {
        const char* name;
        std::string content;
        bool create;
        int code;
    };
    const std::vector<Case> cases = {
        {"no file", "", false, 1},
        {"4095 bytes", With_Marker_At(4095, 0), true, 1},
        {"no marker", std::string(8192, '.'), true, 2},
        {"marker only after 4096 bytes", With_Marker_At(6000, 4096), true, 2},
        {"marker straddling byte 4096", With_Marker_At(6000, 4090), true, 2},
        {"31 bytes of record left", With_Marker_At(6000, 4096 - 31), true, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir.File("VANTREL");
        fs::remove(path);
        if (c.create)
            Write_All(path, c.content);
        Boot_Rig rig;
        Version_Record destination;
        destination.fill(0x42);
        const Version_Record before = destination;
        EXPECT_EQ(boot::Code(rig.com->Find_Version_In_Backup(Opened(path).get(),
                                                             kPhoneModel.dump_marker, destination)),
                  c.code);
        EXPECT_EQ(destination, before);
    }
}

}  // namespace
