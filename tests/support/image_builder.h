// Builds firmware image files in memory for tests, sound or deliberately
// broken, and writes them to temporary files that delete themselves.
//
//   Image_Builder image;
//   image.version_text = Bytes("V1.00");
//   image.first = {0x1000, Random_Bytes(100, 1)};
//   image.second = {0x8000, Random_Bytes(50, 2)};
//   Temp_Image_File file(image.Build());
//
// By default the header length and version length match the text and the
// region ends match the data. Set header_length, version_length,
// Image_Builder_Region::end or truncate_to to build faulty headers.
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace test_support {

inline std::vector<std::uint8_t> Bytes(std::string_view text) {
    return std::vector<std::uint8_t>(text.begin(), text.end());
}

// count pseudo-random bytes, the same for the same seed.
inline std::vector<std::uint8_t> Random_Bytes(std::size_t count, std::uint32_t seed) {
    std::mt19937 generator(seed);
    std::vector<std::uint8_t> bytes(count);
    for (auto& byte : bytes) {
        byte = static_cast<std::uint8_t>(generator());
    }
    return bytes;
}

struct Image_Builder_Region {
    std::uint32_t start = 0;
    std::vector<std::uint8_t> data;
    // Last address (inclusive); default start + data.size() - 1.
    std::optional<std::uint32_t> end;

    std::uint32_t End() const {
        return end ? *end : static_cast<std::uint32_t>(start + data.size() - 1);
    }
};

struct Image_Builder {
    std::vector<std::uint8_t> version_text;
    // Written to the version length word; default version_text.size().
    std::optional<std::uint16_t> version_length;
    // Written to the header length word and used as the data offset; default
    // the end of the header fields (25 + text size). A value below that makes
    // the data overlap the header fields (the data win).
    std::optional<std::uint16_t> header_length;
    Image_Builder_Region first;
    Image_Builder_Region second;
    std::uint8_t reserved_byte = 0xA5;  // fills reserved bytes and the gap
    std::vector<std::uint8_t> trailer;  // bytes after the second region's data
    // Cut the finished file to this many bytes.
    std::optional<std::size_t> truncate_to;

    std::size_t Fields_End() const { return 25 + version_text.size(); }
    std::size_t Data_Offset() const { return header_length ? *header_length : Fields_End(); }

    std::vector<std::uint8_t> Build() const {
        std::vector<std::uint8_t> file;
        // Room for the header from the start (GCC 12 also warns about the
        // first push_back into an empty vector where this is inlined).
        file.reserve(Fields_End());
        Put16(file, header_length ? *header_length : static_cast<std::uint16_t>(Fields_End()));
        Put16(file,
              version_length ? *version_length : static_cast<std::uint16_t>(version_text.size()));
        file.insert(file.end(), version_text.begin(), version_text.end());
        file.push_back(reserved_byte);
        Put32(file, first.start);
        Put32(file, first.End());
        for (int i = 0; i < 4; ++i) {
            file.push_back(reserved_byte);
        }
        Put32(file, second.start);
        Put32(file, second.End());

        // Fill the gap, or cut an overlapping header: the data win.
        file.resize(Data_Offset(), reserved_byte);
        file.insert(file.end(), first.data.begin(), first.data.end());
        file.insert(file.end(), second.data.begin(), second.data.end());
        file.insert(file.end(), trailer.begin(), trailer.end());
        if (truncate_to && *truncate_to < file.size()) {
            file.resize(*truncate_to);
        }
        return file;
    }

    static void Put16(std::vector<std::uint8_t>& out, std::uint16_t value) {
        out.push_back(static_cast<std::uint8_t>(value >> 8));
        out.push_back(static_cast<std::uint8_t>(value));
    }
    static void Put32(std::vector<std::uint8_t>& out, std::uint32_t value) {
        for (int shift = 24; shift >= 0; shift -= 8) {
            out.push_back(static_cast<std::uint8_t>(value >> shift));
        }
    }
};

// A file in the temporary directory holding the given bytes, removed when
// this object ends.
class Temp_Image_File {
  public:
    explicit Temp_Image_File(const std::vector<std::uint8_t>& bytes) {
        static std::atomic<unsigned> counter{0};
        std::error_code error;
        const auto directory = std::filesystem::temp_directory_path(error);
        std::random_device entropy;
        m_path = (directory / ("flashtool-image-" + std::to_string(entropy()) + "-" +
                               std::to_string(counter++) + ".bin"))
                     .string();
        std::ofstream out(m_path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size()));
        out.close();
        m_complete = !error && out.good();
    }
    ~Temp_Image_File() {
        std::error_code ignored;
        std::filesystem::remove(m_path, ignored);
    }
    Temp_Image_File(const Temp_Image_File&) = delete;
    Temp_Image_File& operator=(const Temp_Image_File&) = delete;

    const std::string& Path() const { return m_path; }
    // False when the file could not be created or fully written.
    bool Ok() const { return m_complete; }

  private:
    std::string m_path;
    bool m_complete = false;
};

}  // namespace test_support
