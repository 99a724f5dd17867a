// libFuzzer target: arbitrary bytes as an image file, through the whole
// loader (dialog, header checks, region reads). Whatever the bytes, the load
// must end without a crash, a sanitizer report or an oversized allocation,
// and an accepted image must hold exactly the regions its header declares.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "download/image_loader.h"

namespace {

using Null_Output = Silent_Output;

using Fixed_Dialog = Fixed_Image_File;

// One scratch file per fuzzing process, rewritten for every input and
// removed when the process ends.
class Scratch_File {
  public:
    Scratch_File() {
        const char* directory = std::getenv("TMPDIR");
        m_path = std::string(directory && *directory ? directory : "/tmp") + "/fuzz-image-" +
                 std::to_string(::getpid()) + ".bin";
    }
    ~Scratch_File() { std::remove(m_path.c_str()); }
    const std::string& Path() const { return m_path; }

  private:
    std::string m_path;
};

const std::string& Scratch_Path() {
    static const Scratch_File file;
    return file.Path();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string& path = Scratch_Path();
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        return 0;
    }
    const bool written = std::fwrite(data, 1, size, file) == size;
    std::fclose(file);
    if (!written) {
        return 0;
    }

    Firmware_Image image;
    Null_Output output;
    Fixed_Dialog dialog(path);
    if (Parse_File(image, output, dialog) == Image_Load_Result::kLoaded) {
        // An accepted image lies wholly inside the input: header, then data.
        const std::size_t header_length = Read_Big_Endian_16(data);
        const std::size_t first = image.First_Region.Length;
        const std::size_t second = image.Second_Region.Length;
        if (header_length + first + second > size ||
            std::memcmp(image.First_Region_Data.get(), data + header_length, first) != 0 ||
            std::memcmp(image.Second_Region_Data.get(), data + header_length + first, second) !=
                0 ||
            image.First_Region.End - image.First_Region.Start + 1 != first ||
            image.Second_Region.End - image.Second_Region.Start + 1 != second) {
            std::abort();
        }
        // Nor does the phone get an image without data, or one whose regions
        // share an address.
        const Image_Region& a = image.First_Region;
        const Image_Region& b = image.Second_Region;
        if ((first == 0 && second == 0) ||
            (first != 0 && second != 0 && a.Start <= b.End && b.Start <= a.End)) {
            std::abort();
        }
    } else if (image.Loaded()) {
        std::abort();  // a refused load holds no buffers
    }
    return 0;
}
