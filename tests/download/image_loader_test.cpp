// Tests of the firmware image loader: the header's fields and their order of
// effects on the window, the region bytes, and hostile files that must be
// refused without a large allocation or a buffer left behind.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <new>
#include <optional>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "download/image_loader.h"
#include "download/texts.h"
#include "tests/support/image_builder.h"

// The largest array allocation made since the last reset, to prove that a
// refused image allocates nothing of the size it claims.
namespace {
std::size_t g_largest_array_allocation = 0;
}

void* operator new[](std::size_t size) {
    if (size > g_largest_array_allocation) {
        g_largest_array_allocation = size;
    }
    if (void* block = std::malloc(size ? size : 1)) {
        return block;
    }
    throw std::bad_alloc();
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    if (size > g_largest_array_allocation) {
        g_largest_array_allocation = size;
    }
    return std::malloc(size ? size : 1);
}
void operator delete[](void* block) noexcept {
    std::free(block);
}
void operator delete[](void* block, std::size_t) noexcept {
    std::free(block);
}
void operator delete[](void* block, const std::nothrow_t&) noexcept {
    std::free(block);
}

namespace {

using test_support::Bytes;
using test_support::Image_Builder;
using test_support::Image_Builder_Region;
using test_support::Random_Bytes;
using test_support::Temp_Image_File;

// Records every output call in order; the version field is modelled as the
// control behaves (a zero byte appends nothing).
class Recording_Output : public MessageOutput {
  public:
    std::vector<std::string> calls;
    std::vector<std::string> memo;
    std::string tedit = "old text";
    // Run while the header is being read (each byte of the version shown).
    std::function<void()> on_tedit;

    void Print_Str_to_Memo(std::string_view text) override {
        calls.push_back("memo:" + std::string(text));
        memo.emplace_back(text);
    }
    void Print_Str_to_Tedit(std::string_view text) override {
        calls.push_back("tedit");
        tedit += std::string(text.substr(0, text.find('\0')));
        if (on_tedit)
            on_tedit();
    }
    void Print_Str_to_OldTedit(std::string_view) override { calls.push_back("oldtedit"); }
    void Clean_Memo() override { calls.push_back("clean_memo"); }
    void Clean_Tedit() override {
        calls.push_back("clean_tedit");
        tedit.clear();
    }
    void Clean_OldTedit() override { calls.push_back("clean_oldtedit"); }
};

// The dialog answers the empty name when cancelled.
class Fake_Dialog : public ImageFileChooser {
  public:
    std::optional<std::string> next;  // nullopt: the user cancels
    std::string Choose_File() override {
        const std::string name = next.value_or(std::string());
        next.reset();
        return name;
    }
};

const std::string kWrongBin(text::kWrongBin);

Image_Builder Small_Image(std::string_view version = "V1.23") {
    Image_Builder image;
    image.version_text = Bytes(version);
    image.first = {0x00010000, Random_Bytes(300, 1), {}};
    image.second = {0x00200000, Random_Bytes(200, 2), {}};
    return image;
}

class ImageLoaderTest : public ::testing::Test {
  protected:
    Firmware_Image image;
    Recording_Output output;
    Fake_Dialog dialog;

    bool Load(const Temp_Image_File& file, Language language = Language::kChinese,
              const Load_Options& options = {}) {
        EXPECT_TRUE(file.Ok());
        dialog.next = file.Path();
        return Parse_File(image, output, dialog, language, options) == Image_Load_Result::kLoaded;
    }
    bool Load(const Image_Builder& builder, Language language = Language::kChinese,
              const Load_Options& options = {}) {
        return Load(Temp_Image_File(builder.Build()), language, options);
    }

    void Expect_Regions(const Image_Builder& built) {
        ASSERT_TRUE(image.Loaded());
        EXPECT_EQ(image.First_Region.Start, built.first.start);
        EXPECT_EQ(image.First_Region.End, built.first.End());
        EXPECT_EQ(image.Second_Region.Start, built.second.start);
        EXPECT_EQ(image.Second_Region.End, built.second.End());
        ASSERT_EQ(image.First_Region.Length, built.first.data.size());
        ASSERT_EQ(image.Second_Region.Length, built.second.data.size());
        EXPECT_EQ(
            std::vector<std::uint8_t>(image.First_Region_Data.get(),
                                      image.First_Region_Data.get() + built.first.data.size()),
            built.first.data);
        EXPECT_EQ(
            std::vector<std::uint8_t>(image.Second_Region_Data.get(),
                                      image.Second_Region_Data.get() + built.second.data.size()),
            built.second.data);
    }

    // A refused load: the wrong-bin line alone in the memo, no buffers held.
    void Expect_Refused_As_Wrong_Bin(const Image_Builder& builder) {
        g_largest_array_allocation = 0;
        EXPECT_FALSE(Load(builder));
        EXPECT_EQ(output.memo, std::vector<std::string>{kWrongBin});
        EXPECT_FALSE(image.Loaded());
        EXPECT_EQ(image.First_Region_Data, nullptr);
        EXPECT_EQ(image.Second_Region_Data, nullptr);
        EXPECT_LT(g_largest_array_allocation, 1u << 20);
        output.memo.clear();
    }
};

TEST(BigEndianTest, EveryByteCountsAndIsUnsigned) {
    const std::uint8_t h144[] = {0x00, 0x90};
    const std::uint8_t h400[] = {0x01, 0x90};
    const std::uint8_t high[] = {0xFF, 0x80};
    EXPECT_EQ(Read_Big_Endian_16(h144), 144);
    EXPECT_EQ(Read_Big_Endian_16(h400), 400);
    EXPECT_EQ(Read_Big_Endian_16(high), 0xFF80);
    const std::uint8_t word[] = {0xFE, 0x80, 0x7F, 0x91};
    EXPECT_EQ(Read_Big_Endian_32(word), 0xFE807F91u);
    const std::uint8_t low_only[] = {0x00, 0x00, 0x00, 0xFF};
    EXPECT_EQ(Read_Big_Endian_32(low_only), 0xFFu);
}

TEST_F(ImageLoaderTest, LoadsTwo64KiBRegionsFromOffsets57And65593) {
    Image_Builder built;
    built.version_text = Random_Bytes(32, 3);
    built.first = {0, Random_Bytes(65536, 4), {}};
    built.second = {65536, Random_Bytes(65536, 5), {}};
    const std::vector<std::uint8_t> bytes = built.Build();
    ASSERT_EQ(Read_Big_Endian_16(bytes.data()), 57);
    Temp_Image_File file(bytes);

    ASSERT_TRUE(Load(file));
    Expect_Regions(built);
    EXPECT_EQ(image.First_Region.End, 65535u);
    EXPECT_EQ(image.Second_Region.End, 131071u);
    EXPECT_EQ(image.First_Region_Data[0], bytes[57]);
    EXPECT_EQ(image.Second_Region_Data[0], bytes[65593]);
    EXPECT_EQ(image.Image_File_Name, file.Path());
    EXPECT_TRUE(std::equal(image.Image_Version.begin(), image.Image_Version.end(),
                           built.version_text.begin()));
    EXPECT_TRUE(output.memo.empty());
}

TEST_F(ImageLoaderTest, HeaderLengthWordPlacesTheDataBehindAGap) {
    // 0x0090 and 0x0190 differ only in the high byte.
    for (std::uint16_t header_length : {0x0090, 0x0190}) {
        SCOPED_TRACE(header_length);
        Image_Builder built = Small_Image();
        built.header_length = header_length;
        const std::vector<std::uint8_t> bytes = built.Build();
        ASSERT_TRUE(Load(Temp_Image_File(bytes)));
        Expect_Regions(built);
        EXPECT_EQ(image.First_Region_Data[0], bytes[header_length]);
    }
}

TEST_F(ImageLoaderTest, HeaderLengthInsideTheFieldsStillReadsTheDataFromThere) {
    // No version text; the fields end at 25. With H = 4 the first region's 25
    // bytes are read from offset 4 over the fields, the second's 10 after.
    Image_Builder built;
    built.first = {0, std::vector<std::uint8_t>(25), {}};
    built.second = {0x100, Random_Bytes(14, 9), 0x109};
    std::vector<std::uint8_t> bytes = built.Build();
    bytes.resize(25 + 14);
    bytes[1] = 4;
    ASSERT_TRUE(Load(Temp_Image_File(bytes)));
    ASSERT_EQ(image.First_Region.Length, 25u);
    ASSERT_EQ(image.Second_Region.Length, 10u);
    EXPECT_TRUE(std::equal(bytes.begin() + 4, bytes.begin() + 29, image.First_Region_Data.get()));
    EXPECT_TRUE(std::equal(bytes.begin() + 29, bytes.end(), image.Second_Region_Data.get()));
}

TEST_F(ImageLoaderTest, RandomRegionsLoadExactlyAsWritten) {
    for (std::uint32_t seed = 10; seed < 14; ++seed) {
        SCOPED_TRACE(seed);
        std::mt19937 generator(seed);
        Image_Builder built;
        built.version_text = Random_Bytes(generator() % 33, seed);
        built.header_length = static_cast<std::uint16_t>(57 + generator() % 1000);
        built.first = {static_cast<std::uint32_t>(generator() % 0x1000000),
                       Random_Bytes(1 + generator() % 70000, seed + 1),
                       {}};
        built.second = {static_cast<std::uint32_t>(generator() % 0x1000000),
                        Random_Bytes(1 + generator() % 70000, seed + 2),
                        {}};
        built.trailer = Random_Bytes(generator() % 100, seed + 3);  // never read
        ASSERT_TRUE(Load(built));
        Expect_Regions(built);
    }
}

TEST_F(ImageLoaderTest, RegionWhoseEndEqualsItsStartHoldsOneByte) {
    Image_Builder built = Small_Image();
    built.first = {0x4000, {0x5A}, {}};
    built.second = {0xFFFFFFFF, {0xC3}, {}};
    ASSERT_TRUE(Load(built));
    Expect_Regions(built);
    EXPECT_EQ(image.First_Region.Length, 1u);
    EXPECT_EQ(image.Second_Region.Length, 1u);
}

// End = Start - 1: a region of length 0, loaded with no bytes, in either
// place and at either end of the address space. (Both empty is no image:
// RegionsThatOverlapOrAreBothEmptyAreRefusedWithTheReason.)
TEST_F(ImageLoaderTest, RegionEndingJustBeforeItsStartIsEmpty) {
    for (const auto& [empty_start, second_is_empty] :
         {std::pair{0x4000u, false}, std::pair{0x1u, true}, std::pair{0xFFFFFFFFu, true},
          std::pair{0x1u, false}}) {
        SCOPED_TRACE(std::to_string(empty_start) + (second_is_empty ? " second" : " first"));
        Image_Builder built = Small_Image();
        Image_Builder_Region& empty = second_is_empty ? built.second : built.first;
        empty = {empty_start, {}, empty_start - 1};
        ASSERT_TRUE(Load(built));
        Expect_Regions(built);
        const Image_Region& loaded = second_is_empty ? image.Second_Region : image.First_Region;
        EXPECT_EQ(loaded.End, empty_start - 1);
        EXPECT_EQ(loaded.Length, 0u);
    }
}

TEST_F(ImageLoaderTest, ShorterVersionTextKeepsTheEarlierTrailingBytes) {
    ASSERT_TRUE(Load(Small_Image("ABCDEFGH")));
    EXPECT_EQ(output.tedit, "ABCDEFGH");
    ASSERT_TRUE(Load(Small_Image("XYZ")));
    EXPECT_EQ(output.tedit, "XYZ");
    const std::string record(image.Image_Version.begin(), image.Image_Version.begin() + 9);
    EXPECT_EQ(record, std::string("XYZDEFGH\0", 9));
}

TEST_F(ImageLoaderTest, VersionTextIsShownInOneCallAndZeroBytesShowNothing) {
    Image_Builder built = Small_Image();
    built.version_text = {'A', 0, 'B', 0};
    ASSERT_TRUE(Load(built));
    EXPECT_EQ(output.calls, (std::vector<std::string>{"clean_tedit", "tedit"}));
    EXPECT_EQ(output.tedit, "AB");
}

TEST_F(ImageLoaderTest, HeaderLengthBit15IsJudgedAfterTheVersionIsShown) {
    Image_Builder built = Small_Image("AB");
    built.header_length = 0x8039;
    Temp_Image_File file(built.Build());
    EXPECT_FALSE(Load(file));
    EXPECT_EQ(output.calls,
              (std::vector<std::string>{"clean_tedit", "tedit", "memo:" + kWrongBin}));
    EXPECT_EQ(output.tedit, "AB");

    Image_Region first;
    Image_Region second;
    EXPECT_EQ(Initial_Array(image, output, file.Path(), first, second),
              Image_Load_Result::kWrongBin);
}

TEST_F(ImageLoaderTest, VersionLengthBit15FailsSilentlyUnlessHeaderLengthBit15Too) {
    Image_Builder built = Small_Image("AB");
    built.version_length = 0x8002;
    Temp_Image_File silent(built.Build());
    EXPECT_FALSE(Load(silent));
    EXPECT_EQ(output.calls, std::vector<std::string>{"clean_tedit"});
    Image_Region first;
    Image_Region second;
    EXPECT_EQ(Initial_Array(image, output, silent.Path(), first, second),
              Image_Load_Result::kBadVersionLength);

    output.calls.clear();
    built.header_length = 0xFFFF;
    Temp_Image_File loud(built.Build());
    EXPECT_FALSE(Load(loud));
    EXPECT_EQ(output.calls, (std::vector<std::string>{"clean_tedit", "memo:" + kWrongBin}));
    EXPECT_EQ(Initial_Array(image, output, loud.Path(), first, second),
              Image_Load_Result::kWrongBin);
}

TEST_F(ImageLoaderTest, CancelledDialogLoadsNothingEvenAfterAFileWasChosen) {
    // Never chosen: empty name, no message, the version field untouched.
    EXPECT_EQ(Parse_File(image, output, dialog), Image_Load_Result::kNotOpened);
    EXPECT_TRUE(output.calls.empty());
    EXPECT_EQ(output.tedit, "old text");
    Image_Region first;
    Image_Region second;
    EXPECT_EQ(Initial_Array(image, output, "", first, second), Image_Load_Result::kNotOpened);
    EXPECT_EQ(Initial_Array(image, output, "/nonexistent/dir/x.bin", first, second),
              Image_Load_Result::kNotOpened);
    EXPECT_TRUE(output.calls.empty());

    Image_Builder built = Small_Image();
    Temp_Image_File file(built.Build());
    ASSERT_TRUE(Load(file));
    Expect_Regions(built);
    // Cancelled after that: nothing loaded, nothing said, and the image of
    // the earlier load released, so that nothing of it can be sent.
    output.calls.clear();
    EXPECT_EQ(Parse_File(image, output, dialog), Image_Load_Result::kNotOpened);
    EXPECT_TRUE(output.calls.empty());
    EXPECT_FALSE(image.Loaded());
    EXPECT_EQ(image.Image_File_Name, "");
}

TEST_F(ImageLoaderTest, RefusesVersionTextLongerThanTheRecordWithoutWritingIt) {
    image.Image_Version.fill(0x11);
    for (std::size_t length : {33, 200}) {
        Image_Builder built = Small_Image();
        built.version_text = Random_Bytes(length, 7);
        Expect_Refused_As_Wrong_Bin(built);
    }
    Image_Builder lying = Small_Image("AB");
    lying.version_length = 0x7FFF;
    Expect_Refused_As_Wrong_Bin(lying);
    for (std::uint8_t byte : image.Image_Version) {
        EXPECT_EQ(byte, 0x11);
    }
}

TEST_F(ImageLoaderTest, RefusesRegionsThatRunBackwardsOrSpanTheWholeAddressSpace) {
    // One byte further back than an empty region.
    Image_Builder first_backwards = Small_Image();
    first_backwards.first.end = first_backwards.first.start - 2;
    Expect_Refused_As_Wrong_Bin(first_backwards);

    Image_Builder second_backwards = Small_Image();
    second_backwards.second.end = 0;
    Expect_Refused_As_Wrong_Bin(second_backwards);

    // 0 to 0xFFFFFFFF has 2^32 bytes, a Length that would wrap to 0.
    Image_Builder whole_space = Small_Image();
    whole_space.first.start = 0;
    whole_space.first.end = 0xFFFFFFFF;
    Expect_Refused_As_Wrong_Bin(whole_space);
}

TEST_F(ImageLoaderTest, RefusesFilesEndingInsideTheHeader) {
    const Image_Builder built = Small_Image("V12");  // header fields end at 28
    for (std::size_t size : {0, 1, 3, 4, 6, 27}) {
        SCOPED_TRACE(size);
        Image_Builder cut = built;
        cut.truncate_to = size;
        Expect_Refused_As_Wrong_Bin(cut);
    }
}

TEST_F(ImageLoaderTest, RefusesDataOrHeaderLengthPastTheEndBeforeAllocating) {
    Image_Builder short_second = Small_Image();
    short_second.truncate_to = short_second.Build().size() - 1;
    Expect_Refused_As_Wrong_Bin(short_second);

    Image_Builder header_past_end = Small_Image();
    header_past_end.header_length = 0x7FFF;
    header_past_end.truncate_to = 1000;
    Expect_Refused_As_Wrong_Bin(header_past_end);

    // A 100-byte file claiming a 4 GiB region and a 2 GiB one.
    Image_Builder huge;
    huge.version_text = Bytes("V1");
    huge.first = {0, {}, 0xFFFFFFFE};
    huge.second = {0x80000000, {}, 0xFFFFFFFF};
    huge.trailer = Random_Bytes(100 - 27, 8);
    Expect_Refused_As_Wrong_Bin(huge);
    // The header check alone already refuses it.
    Temp_Image_File file(huge.Build());
    Image_Region first;
    Image_Region second;
    EXPECT_EQ(Initial_Array(image, output, file.Path(), first, second),
              Image_Load_Result::kWrongBin);
}

// The file is renamed over while its header is read (as a script swapping
// images would): the header and the data both come from the file that was
// opened, never a mix of the two.
TEST_F(ImageLoaderTest, AFileReplacedDuringTheLoadIsLoadedWhollyAsTheOneOpened) {
    const Image_Builder opened = Small_Image("A-1.00");
    Image_Builder replacement = Small_Image("B-2.00");
    replacement.first = {0x00030000, Random_Bytes(300, 21), {}};
    replacement.second = {0x00400000, Random_Bytes(200, 22), {}};
    Temp_Image_File file(opened.Build());
    Temp_Image_File other(replacement.Build());
    bool swapped = false;
    std::error_code refused;
    output.on_tedit = [&] {
        if (!std::exchange(swapped, true))
            std::filesystem::rename(other.Path(), file.Path(), refused);
    };
    ASSERT_TRUE(Load(file));
#ifndef _WIN32
    EXPECT_FALSE(refused) << "renamed over while open";  // Windows refuses while it is open
#endif
    Expect_Regions(opened);
    EXPECT_EQ(std::string(image.Image_Version.begin(), image.Image_Version.begin() + 6), "A-1.00");
}

// Images the phone must never get, though every field is sound: regions
// that share a flash address, and two empty regions. Refused before a byte
// of region memory is allocated, with the reason in the window's language.
TEST_F(ImageLoaderTest, RegionsThatOverlapOrAreBothEmptyAreRefusedWithTheReason) {
    struct Row {
        const char* name;
        std::uint32_t first_start, first_length, second_start, second_length;
        const char* ranges;  // empty: both regions are empty; null: accepted
    };
    const Row rows[] = {
        {"the second inside the first", 0x10000, 0x1000, 0x10800, 0x10,
         "0x00010000-0x00010FFF, 0x00010800-0x0001080F"},
        {"one shared byte", 0x10000, 0x100, 0x100FF, 0x100,
         "0x00010000-0x000100FF, 0x000100FF-0x000101FE"},
        {"the second first, running into the first", 0x20000, 0x100, 0x1FF80, 0x100,
         "0x00020000-0x000200FF, 0x0001FF80-0x0002007F"},
        {"the same range twice", 0x0, 0x10, 0x0, 0x10,
         "0x00000000-0x0000000F, 0x00000000-0x0000000F"},
        {"both empty", 0x10000, 0, 0x20000, 0, ""},
        {"adjacent: accepted", 0x10000, 0x100, 0x10100, 0x100, nullptr},
        {"an empty region inside the other: accepted", 0x10000, 0x100, 0x10080, 0, nullptr},
    };
    for (const Language language : {Language::kEnglish, Language::kChinese}) {
        for (const Row& row : rows) {
            SCOPED_TRACE(row.name);
            Image_Builder built = Small_Image();
            built.first = {row.first_start, Random_Bytes(row.first_length, 3), {}};
            built.second = {row.second_start, Random_Bytes(row.second_length, 4), {}};
            g_largest_array_allocation = 0;
            output.memo.clear();
            const bool loaded = Load(built, language);
            if (row.ranges == nullptr) {
                EXPECT_TRUE(loaded);
                Expect_Regions(built);
                continue;
            }
            EXPECT_FALSE(loaded);
            EXPECT_FALSE(image.Loaded());
            EXPECT_LT(g_largest_array_allocation, 1u << 20);
            const std::string why =
                *row.ranges == '\0'
                    ? std::string(
                          text::By_Language(language, text::kNoRegionDataEn, text::kNoRegionDataZh))
                    : std::string(text::By_Language(language, text::kRegionsOverlapEn,
                                                    text::kRegionsOverlapZh)) +
                          row.ranges;
            EXPECT_EQ(output.memo, (std::vector<std::string>{kWrongBin, why}));
            Image_Region first, second;
            EXPECT_EQ(
                Initial_Array(image, output, Temp_Image_File(built.Build()).Path(), first, second),
                Image_Load_Result::kWrongBin)
                << "the header alone is refused";
        }
    }
}

// A 4 KiB sparse file that claims two 256 MiB regions: the claim fits the
// file's size, but a refused claim (overlapping regions) allocates nothing of
// it, and a stop asked for before the regions are read ends the load without
// reading or allocating them.
TEST_F(ImageLoaderTest, ASparseFileClaimingHugeRegionsAllocatesNothingWhenRefusedOrStopped) {
    constexpr std::uint32_t kClaim = 256u << 20;
    const auto sparse = [&](std::uint32_t second_start) {
        Image_Builder header = Small_Image();
        header.first = {0, {}, kClaim - 1};
        header.second = {second_start, {}, second_start + kClaim - 1};
        header.trailer = Random_Bytes(4096 - 57, 5);
        auto file = std::make_unique<Temp_Image_File>(header.Build());
        std::filesystem::resize_file(file->Path(), 2 * std::uintmax_t{kClaim} + 4096);
#ifndef _WIN32
        struct stat status {};
        EXPECT_EQ(::stat(file->Path().c_str(), &status), 0);
        EXPECT_LT(status.st_blocks * 512, 1 << 20) << "the file holds next to nothing";
#endif
        return file;
    };

    const auto overlapping = sparse(kClaim / 2);
    g_largest_array_allocation = 0;
    EXPECT_FALSE(Load(*overlapping, Language::kEnglish));
    EXPECT_LT(g_largest_array_allocation, 1u << 20);
    EXPECT_FALSE(image.Loaded());

    const auto disjoint = sparse(kClaim);
    Stop_Signal stop;
    output.on_tedit = [&] { stop.Request(); };  // Ctrl-C while the header is read
    output.memo.clear();
    g_largest_array_allocation = 0;
    EXPECT_FALSE(Load(*disjoint, Language::kEnglish, {&stop}));
    EXPECT_LT(g_largest_array_allocation, 1u << 20);
    EXPECT_FALSE(image.Loaded());
    EXPECT_TRUE(output.memo.empty()) << "a stop is no refusal of the image";
}

// Images the loader would have to hold whole for bytes that are not there:
// regions that claim more than the phone's flash takes, and a file truncated
// longer than it was written, its regions' bytes holes. Refused before a
// byte of region memory is allocated, with the reason in the window's
// language; a hole smaller than a flash block is no reason.
TEST_F(ImageLoaderTest, ImagesLargerThanTheFlashOrMadeOfHolesAreRefusedBeforeAllocating) {
    struct Row {
        const char* name;
        std::uint32_t first_length, second_length;
        std::size_t written;  // the bytes of the file that are written; the rest is a hole
        bool too_large, holes;
    };
    constexpr std::uint32_t kMiB = 1u << 20;
    const Row rows[] = {
        {"two 512 MiB regions in a 4 KiB file", 512 * kMiB, 512 * kMiB, 4096, true, false},
        {"one byte more than 128 MiB, all of it holes", 128 * kMiB, 1, 4096, true, false},
        {"two 32 MiB regions in a 4 KiB file", 32 * kMiB, 32 * kMiB, 4096, false, true},
        {"a 300 KiB region whose last 100 KiB are a hole", 300 * 1024, 200, 200 * 1024, false,
         true},
        {"a hole of 16 KiB at the end: loaded", 64 * 1024, 200, 64 * 1024 - 16 * 1024, false,
         false},
    };
    for (const Language language : {Language::kEnglish, Language::kChinese}) {
        for (const Row& row : rows) {
            SCOPED_TRACE(row.name);
            Image_Builder header = Small_Image();
            header.first = {0x00010000, {}, 0x00010000 + row.first_length - 1};
            header.second = {0x40000000, {}, 0x40000000 + row.second_length - 1};
            std::vector<std::uint8_t> bytes = header.Build();
            const std::size_t data = header.Data_Offset();
            bytes.resize(std::max(bytes.size(), row.written), 0x5A);
            Temp_Image_File file(bytes);
            std::filesystem::resize_file(
                file.Path(), data + std::uintmax_t{row.first_length} + row.second_length);
            g_largest_array_allocation = 0;
            output.memo.clear();
            const bool loaded = Load(file, language);
#ifdef _WIN32
            if (row.holes)
                continue;  // the system says nothing of holes there: the size limit is all
#endif
            if (!row.too_large && !row.holes) {
                EXPECT_TRUE(loaded) << (output.memo.empty() ? "" : output.memo.back());
                EXPECT_EQ(image.First_Region.Length, row.first_length);
                continue;
            }
            EXPECT_FALSE(loaded);
            EXPECT_FALSE(image.Loaded());
            EXPECT_LT(g_largest_array_allocation, 1u << 20);
            ASSERT_EQ(output.memo.size(), 2u);
            EXPECT_EQ(output.memo[0], kWrongBin);
            const std::string& why = output.memo[1];
            const bool english = language == Language::kEnglish;
            if (row.too_large) {
                const std::string total =
                    std::to_string(std::uint64_t{row.first_length} + row.second_length);
                EXPECT_EQ(why, english ? "The image's flash regions hold " + total +
                                             " bytes, more than the phone's flash can take "
                                             "(134217728 bytes)."
                                       : "映像檔的燒錄區域共 " + total +
                                             " 位元組,超過手機快閃記憶體可容納的 134217728 "
                                             "位元組。");
                continue;
            }
            const std::string head(english ? text::kImageHasHolesEn : text::kImageHasHolesZh);
            const std::string tail(english ? text::kImageHasHolesEndEn : text::kImageHasHolesEndZh);
            ASSERT_GT(why.size(), head.size() + tail.size()) << why;
            EXPECT_EQ(why.substr(0, head.size()), head);
            EXPECT_EQ(why.substr(why.size() - tail.size()), tail);
        }
    }
}

TEST_F(ImageLoaderTest, FailedLoadLeavesNoBuffersOfThePreviousImage) {
    Image_Builder good = Small_Image();
    ASSERT_TRUE(Load(good));
    Expect_Regions(good);
    Image_Builder bad = Small_Image();
    bad.second.end = 0;
    Expect_Refused_As_Wrong_Bin(bad);
    EXPECT_EQ(image.First_Region.Length, 0u);
    EXPECT_EQ(image.Second_Region.Length, 0u);
}

}  // namespace
