// The firmware image loader. The file's header is read once into a small
// buffer, judged field by field, and every length it claims is checked
// against the file's real size before a byte of region memory is allocated.
// The region bytes are then read straight into the image's own buffers, one
// read per region, so the image exists in memory exactly once.
#include "download/image_loader.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <limits>
#include <memory>
#include <new>
#include <span>
#include <string_view>

#include "download/texts.h"
#include "serial/file_handle.h"
#include "serial/platform.h"

namespace {

// Header layout: header length, version length, version text, one reserved
// byte, first start/end, four reserved bytes, second start/end.
constexpr std::size_t kLengthWordsSize = 4;
constexpr std::size_t kFixedFieldsSize = 25;  // header size without the version text
constexpr std::size_t kMaxHeaderSize = kFixedFieldsSize + kVersionRecordSize;
constexpr std::uint16_t kBit15 = 0x8000;

File_Handle Open_For_Reading(const std::string& file_name) {
    if (file_name.empty()) {
        return nullptr;
    }
    return platform::Open_Regular_File(file_name);
}

// Reads exactly count bytes; a short read (end of file or an I/O error) is a
// failure.
bool Read_Exactly(std::FILE* file, std::uint8_t* into, std::size_t count) {
    return count == 0 || std::fread(into, 1, count, file) == count;
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

int Refuse_Wrong_Bin(MessageOutput& output) {
    output.Print_Str_to_Memo(text::kWrongBin);
    return -2;
}

}  // namespace

int Initial_Array(FirmwareImage& image, MessageOutput& output, const std::string& file_name,
                  Image_Region& first, Image_Region& second) {
    const File_Handle file = Open_For_Reading(file_name);
    if (!file) {
        return -1;  // nothing printed, VersionNameEdit keeps its text
    }
    const std::int64_t file_size = platform::File_Size(file.get());

    // The longest header an acceptable image can have; a shorter file gives
    // fewer bytes, and each field below is checked against what was read.
    std::array<std::uint8_t, kMaxHeaderSize> header{};
    const std::size_t header_read = std::fread(header.data(), 1, header.size(), file.get());

    output.Clean_Tedit();
    if (file_size < 0 || header_read < kLengthWordsSize) {
        return Refuse_Wrong_Bin(output);  // ends inside the two length words
    }
    const std::uint16_t version_length = Read_Big_Endian_16(&header[2]);
    const bool version_shown = (version_length & kBit15) == 0 &&
                               version_length <= kVersionRecordSize &&
                               kLengthWordsSize + version_length <= header_read;
    if (version_shown) {
        // Shown before the header is judged, so the user sees which version a
        // refused image claimed. Bytes of the record beyond the text keep
        // what the previous image left there.
        const std::span<const std::uint8_t> text(&header[kLengthWordsSize], version_length);
        std::copy(text.begin(), text.end(), image.Image_Version.begin());
        output.Print_Str_to_Tedit(Version_Field_Text(text));
    }

    const std::uint16_t header_length = Read_Big_Endian_16(&header[0]);
    if ((header_length & kBit15) != 0) {
        return Refuse_Wrong_Bin(output);
    }
    if ((version_length & kBit15) != 0) {
        return -3;  // silent, with VersionNameEdit emptied
    }
    // The phone's version record holds 32 bytes; a longer text is not an
    // image for this phone.
    if (version_length > kVersionRecordSize) {
        return Refuse_Wrong_Bin(output);
    }
    if (header_read < kFixedFieldsSize + version_length) {
        return Refuse_Wrong_Bin(output);  // ends inside the header
    }

    const std::uint8_t* fields = &header[kLengthWordsSize + version_length + 1];
    Image_Region first_read{Read_Big_Endian_32(fields), Read_Big_Endian_32(fields + 4), 0};
    Image_Region second_read{Read_Big_Endian_32(fields + 12), Read_Big_Endian_32(fields + 16), 0};
    if (!Region_Length(first_read.Start, first_read.End, first_read.Length) ||
        !Region_Length(second_read.Start, second_read.End, second_read.Length)) {
        return Refuse_Wrong_Bin(output);
    }
    // A header length below the fixed fields is accepted as it always was:
    // the data simply start at H, overlapping the header.
    if (!Regions_Fit(header_length, first_read, second_read, file_size)) {
        return Refuse_Wrong_Bin(output);
    }
    first = first_read;
    second = second_read;
    return 0;
}

bool Parse_File(FirmwareImage& image, MessageOutput& output, ImageFileChooser& dialog) {
    // A failed load leaves no region buffers behind, not even the previous
    // image's: nothing of it may be sent.
    image.Release();
    image.Image_File_Name = dialog.Choose_File();
    const std::string& file_name = image.Image_File_Name;

    Image_Region first;
    Image_Region second;
    if (Initial_Array(image, output, file_name, first, second) != 0) {
        return false;
    }

    std::unique_ptr<std::uint8_t[]> first_data;
    std::unique_ptr<std::uint8_t[]> second_data;
    {
        const File_Handle file = Open_For_Reading(file_name);
        if (!file) {
            return false;  // no message, as for a failed first open
        }
        // The file is measured and its header length read again: it may
        // have been replaced since the header was judged.
        const std::int64_t file_size = platform::File_Size(file.get());
        std::array<std::uint8_t, 2> header_length_bytes{};
        if (!Read_Exactly(file.get(), header_length_bytes.data(), header_length_bytes.size())) {
            Refuse_Wrong_Bin(output);
            return false;
        }
        const std::uint16_t header_length = Read_Big_Endian_16(header_length_bytes.data());
        if ((header_length & kBit15) != 0 ||
            !Regions_Fit(header_length, first, second, file_size) ||
            !platform::Seek_To(file.get(), header_length)) {
            Refuse_Wrong_Bin(output);
            return false;
        }

        first_data = Allocate_Region(first.Length);
        second_data = Allocate_Region(second.Length);
        if (!first_data || !second_data) {
            // Lengths this machine cannot hold; the image cannot be sent.
            Refuse_Wrong_Bin(output);
            return false;
        }
        if (!Read_Exactly(file.get(), first_data.get(), first.Length) ||
            !Read_Exactly(file.get(), second_data.get(), second.Length)) {
            Refuse_Wrong_Bin(output);  // shrank since it was measured, or an I/O error
            return false;
        }
    }

    if (!platform::Can_Open_Read_Only(file_name)) {
        output.Print_Str_to_Memo(text::kReopenFailed);
        return false;
    }

    image.First_Region = first;
    image.Second_Region = second;
    image.First_Region_Data = std::move(first_data);
    image.Second_Region_Data = std::move(second_data);
    return true;
}
