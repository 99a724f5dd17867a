// The firmware image loader. The file is opened once: its header is read
// into a small buffer, judged field by field, and every length it claims is
// checked against the file's real size before a byte of region memory is
// allocated. The region bytes are then read from the same open file straight
// into the image's own buffers, piece by piece so that a stop need not wait
// for a large image, and the image exists in memory exactly once.
#include "download/image_loader.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <limits>
#include <memory>
#include <new>
#include <optional>
#include <span>
#include <string_view>

#include "bootloader/phone_model.h"
#include "download/message_renderer.h"
#include "download/texts.h"
#include "download/update_output.h"
#include "platform/file_handle.h"
#include "platform/files.h"

namespace {

// Header layout: header length, version length, version text, one reserved
// byte, first start/end, four reserved bytes, second start/end.
constexpr std::size_t kLengthWordsSize = 4;
constexpr std::size_t kFixedFieldsSize = 25;  // header size without the version text
constexpr std::size_t kMaxHeaderSize = kFixedFieldsSize + kPhoneModel.record.size;
constexpr std::uint16_t kBit15 = 0x8000;
// A stop ends a load after the piece being read: 4 MiB take milliseconds
// from a local disk.
constexpr std::size_t kReadPiece = std::size_t{4} << 20;
// The most both regions may hold together: 4096 of the phone's flash blocks
// (128 MiB of 32 KiB blocks). The phone's descriptor names no flash size, but
// its flash is written a block at a time, and a phone of this model with 4096
// blocks of flash would hold many times the firmware it runs; an image
// claiming more is not one for it. The limit also bounds what a load costs
// in memory, whatever a header claims.
constexpr std::uint64_t kMaxRegionBlocks = 4096;
constexpr std::uint64_t kMaxImageBytes = kMaxRegionBlocks * kPhoneModel.block_size;
// Holes in the regions' data of at least one flash block are refused: the
// tools that build an image write every byte, and a file that claims its
// regions' length without holding it was cut short or made up; loading it
// would cost the memory of all it claims for bytes that are not there.
constexpr std::uint64_t kMaxHoleBytes = kPhoneModel.block_size;

File_Handle Open_For_Reading(const std::string& file_name) {
    if (file_name.empty()) {
        return nullptr;
    }
    return platform::Open_Regular_File(file_name);
}

enum class Read_End { kRead, kShort, kStopped };

// Reads exactly count bytes, a piece at a time, unless a stop comes first; a
// short read (end of file or an I/O error) is a failure.
Read_End Read_Exactly(std::FILE* file, std::uint8_t* into, std::size_t count,
                      const Stop_Signal* stop) {
    for (std::size_t done = 0; done < count;) {
        if (stop != nullptr && stop->Requested())
            return Read_End::kStopped;
        const std::size_t piece = std::min(kReadPiece, count - done);
        if (std::fread(into + done, 1, piece, file) != piece)
            return Read_End::kShort;
        done += piece;
    }
    return Read_End::kRead;
}

bool Stopped(const Load_Options& options) {
    return options.stop != nullptr && options.stop->Requested();
}

// The region's byte count, End - Start + 1. A region that ends just before
// it starts (End = Start - 1) is empty: it sends no block. Nothing when the
// end lies further below the start, or when the region spans the whole 32-bit
// address space (0 to 0xFFFFFFFF: its length would wrap to 0 in the 32-bit
// Length field and pass for an empty one).
bool Region_Length(std::uint32_t start, std::uint32_t end, std::uint32_t& length) {
    if (std::uint64_t{end} + 1 < start) {
        return false;
    }
    const std::uint64_t wide = std::uint64_t{end} + 1 - start;
    if (wide > std::numeric_limits<std::uint32_t>::max()) {
        return false;
    }
    length = static_cast<std::uint32_t>(wide);
    return true;
}

// True when both regions' data, starting at header_length, lie inside a file
// of file_size bytes. All in 64 bits: three 32-bit-sized terms cannot
// overflow.
bool Regions_Fit(std::uint16_t header_length, const Image_Region& first, const Image_Region& second,
                 std::int64_t file_size) {
    if (file_size < 0) {
        return false;
    }
    const std::uint64_t end_of_data =
        std::uint64_t{header_length} + std::uint64_t{first.Length} + second.Length;
    return end_of_data <= static_cast<std::uint64_t>(file_size);
}

// A region buffer of count bytes, or null when memory is short. Not zeroed:
// every byte is overwritten by the read that follows.
std::unique_ptr<std::uint8_t[]> Allocate_Region(std::uint32_t count) {
    return std::unique_ptr<std::uint8_t[]>(new (std::nothrow) std::uint8_t[count]);
}

void Say(report::Update_Observer& report, report::Notice_Event notice) {
    report.On_Event(report::Update_Event::Of(std::move(notice)));
}

Image_Load_Result Refuse_Wrong_Bin(report::Update_Observer& report) {
    Say(report, report::Say(report::Notice::kWrongBin));
    return Image_Load_Result::kWrongBin;
}

// Regions that share a flash address would have the phone write it twice,
// with bytes that may differ; two empty regions write nothing but the new
// version record, leaving a phone that claims a firmware it does not hold.
// An empty region lies nowhere, so it overlaps nothing. Nothing when the
// regions are an image; else the notice that says why not.
std::optional<report::Notice_Event> Regions_Problem(const Image_Region& first,
                                                    const Image_Region& second) {
    if (first.Length == 0 && second.Length == 0)
        return report::Say(report::Notice::kNoRegionData);
    if (first.Length != 0 && second.Length != 0 && first.Start <= second.End &&
        second.Start <= first.End) {
        return report::Notice_Event{report::Notice::kRegionsOverlap,
                                    {},
                                    {first.Start, first.End, second.Start, second.End}};
    }
    return std::nullopt;
}

}  // namespace

Image_Load_Result Read_Image_Header(std::FILE* file, Firmware_Image& image,
                                    report::Update_Observer& output, Image_Header& header) {
    const std::int64_t file_size = platform::File_Size(file);

    // The longest header an acceptable image can have; a shorter file gives
    // fewer bytes, and each field below is checked against what was read.
    std::array<std::uint8_t, kMaxHeaderSize> bytes{};
    const std::size_t header_read = std::fread(bytes.data(), 1, bytes.size(), file);

    output.On_Event(report::Update_Event{report::Update_Event::Kind::kImageHeader});
    if (file_size < 0 || header_read < kLengthWordsSize) {
        return Refuse_Wrong_Bin(output);  // ends inside the two length words
    }
    const std::uint16_t version_length = Read_Big_Endian_16(&bytes[2]);
    const bool version_shown = (version_length & kBit15) == 0 &&
                               version_length <= kPhoneModel.record.size &&
                               kLengthWordsSize + version_length <= header_read;
    if (version_shown) {
        // Shown before the header is judged, so the user sees which version a
        // refused image claimed. Bytes of the record beyond the text keep
        // what the previous image left there.
        const std::span<const std::uint8_t> text(&bytes[kLengthWordsSize], version_length);
        std::copy(text.begin(), text.end(), image.Image_Version.begin());
        output.On_Event(
            report::Update_Event::Record(report::Update_Event::Kind::kImageVersion, text));
    }

    const std::uint16_t header_length = Read_Big_Endian_16(&bytes[0]);
    if ((header_length & kBit15) != 0) {
        return Refuse_Wrong_Bin(output);
    }
    if ((version_length & kBit15) != 0) {
        return Image_Load_Result::kBadVersionLength;  // silent, with VersionNameEdit emptied
    }
    // A text longer than the phone's version record is not an image for
    // this phone.
    if (version_length > kPhoneModel.record.size) {
        return Refuse_Wrong_Bin(output);
    }
    if (header_read < kFixedFieldsSize + version_length) {
        return Refuse_Wrong_Bin(output);  // ends inside the header
    }

    const std::uint8_t* fields = &bytes[kLengthWordsSize + version_length + 1];
    Image_Region first{Read_Big_Endian_32(fields), Read_Big_Endian_32(fields + 4), 0};
    Image_Region second{Read_Big_Endian_32(fields + 12), Read_Big_Endian_32(fields + 16), 0};
    if (!Region_Length(first.Start, first.End, first.Length) ||
        !Region_Length(second.Start, second.End, second.Length)) {
        return Refuse_Wrong_Bin(output);
    }
    // A header length below the fixed fields is accepted as it always was:
    // the data simply start at H, overlapping the header.
    if (!Regions_Fit(header_length, first, second, file_size)) {
        return Refuse_Wrong_Bin(output);
    }
    if (std::optional<report::Notice_Event> why = Regions_Problem(first, second)) {
        const Image_Load_Result refused = Refuse_Wrong_Bin(output);
        Say(output, std::move(*why));
        return refused;
    }
    header = {header_length, version_length, first, second};
    return Image_Load_Result::kLoaded;
}

std::optional<report::Notice_Event> Image_Size_Problem(std::FILE* file,
                                                       const Image_Header& header) {
    const std::uint64_t total = std::uint64_t{header.first.Length} + header.second.Length;
    if (total > kMaxImageBytes) {
        return report::Notice_Event{
            report::Notice::kImageTooLarge,
            {},
            {static_cast<std::int64_t>(total), static_cast<std::int64_t>(kMaxImageBytes)}};
    }
    const std::int64_t stored =
        platform::Bytes_Stored(file, header.header_length, header.header_length + total);
    if (stored >= 0 && total - static_cast<std::uint64_t>(stored) >= kMaxHoleBytes) {
        return report::Notice_Event{
            report::Notice::kImageHasHoles, {}, {static_cast<std::int64_t>(total) - stored}};
    }
    return std::nullopt;
}

Image_Load_Result Initial_Array(Firmware_Image& image, report::Update_Observer& output,
                                const std::string& file_name, Image_Region& first,
                                Image_Region& second) {
    const File_Handle file = Open_For_Reading(file_name);
    if (!file) {
        return Image_Load_Result::kNotOpened;  // nothing printed, VersionNameEdit keeps its text
    }
    Image_Header header;
    const Image_Load_Result result = Read_Image_Header(file.get(), image, output, header);
    if (result == Image_Load_Result::kLoaded) {
        first = header.first;
        second = header.second;
    }
    return result;
}

Image_Load_Result Parse_File(Firmware_Image& image, report::Update_Observer& output,
                             ImageFileChooser& dialog, const Load_Options& options) {
    // A failed load leaves no region buffers behind, not even the previous
    // image's: nothing of it may be sent.
    image.Release();
    image.Image_File_Name = dialog.Choose_File();
    const std::string& file_name = image.Image_File_Name;

    // One open for the header and the data: a file renamed over meanwhile
    // cannot lend its bytes to another file's header.
    const File_Handle file = Open_For_Reading(file_name);
    if (!file) {
        return Image_Load_Result::kNotOpened;  // nothing printed, VersionNameEdit keeps its text
    }
    Image_Header header;
    if (const Image_Load_Result result = Read_Image_Header(file.get(), image, output, header);
        result != Image_Load_Result::kLoaded) {
        return result;
    }
    if (Stopped(options)) {
        return Image_Load_Result::kStopped;
    }
    // Judged before a byte of region memory is asked for, so that a small
    // file cannot make the loader claim a large amount.
    if (std::optional<report::Notice_Event> why = Image_Size_Problem(file.get(), header)) {
        const Image_Load_Result refused = Refuse_Wrong_Bin(output);
        Say(output, std::move(*why));
        return refused;
    }
    if (!platform::Seek_To(file.get(), header.header_length)) {
        return Refuse_Wrong_Bin(output);
    }

    std::unique_ptr<std::uint8_t[]> first_data = Allocate_Region(header.first.Length);
    std::unique_ptr<std::uint8_t[]> second_data = Allocate_Region(header.second.Length);
    if (!first_data || !second_data) {
        // Lengths this machine cannot hold; the image cannot be sent.
        return Refuse_Wrong_Bin(output);
    }
    Read_End end = Read_Exactly(file.get(), first_data.get(), header.first.Length, options.stop);
    if (end == Read_End::kRead) {
        end = Read_Exactly(file.get(), second_data.get(), header.second.Length, options.stop);
    }
    if (end == Read_End::kStopped) {
        return Image_Load_Result::kStopped;
    }
    if (end == Read_End::kShort) {
        // Shrank since it was measured, or an I/O error.
        return Refuse_Wrong_Bin(output);
    }

    if (!platform::Can_Open_Read_Only(file_name)) {
        Say(output, report::Say(report::Notice::kReopenFailed));
        return Image_Load_Result::kNotReopened;
    }

    image.First_Region = header.first;
    image.Second_Region = header.second;
    image.First_Region_Data = std::move(first_data);
    image.Second_Region_Data = std::move(second_data);
    return Image_Load_Result::kLoaded;
}

Image_Load_Result Parse_File(Firmware_Image& image, MessageOutput& output, ImageFileChooser& dialog,
                             Language language, const Load_Options& options) {
    One_Language_Output shown(output, language);
    Message_Area_Renderer report(shown);
    return Parse_File(image, report, dialog, options);
}

Image_Load_Result Initial_Array(Firmware_Image& image, MessageOutput& output,
                                const std::string& file_name, Image_Region& first,
                                Image_Region& second, Language language) {
    One_Language_Output shown(output, language);
    Message_Area_Renderer report(shown);
    return Initial_Array(image, report, file_name, first, second);
}

Image_Load_Result Read_Image_Header(std::FILE* file, Firmware_Image& image, MessageOutput& output,
                                    Image_Header& header, Language language) {
    One_Language_Output shown(output, language);
    Message_Area_Renderer report(shown);
    return Read_Image_Header(file, image, report, header);
}
