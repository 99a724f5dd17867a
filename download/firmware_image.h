// The loaded firmware image: one owner for what the loader reads and the
// update sends.
//
// Each successful load replaces the regions and their bytes. Image_Version
// keeps the bytes beyond a shorter version text from the image loaded before
// (zero at start), because the phone compares all 32 bytes.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>

#include "bootloader/records.h"

// How a load ended. The first four are the header reader's numbers (0, -1,
// -2, -3) as they always were.
enum class Image_Load_Result : int {
    kLoaded = 0,
    kNotOpened = -1,         // no file chosen, or it cannot be opened: nothing printed
    kWrongBin = -2,          // "You choose the wrong bin!" (then why, where the fields are sound)
    kBadVersionLength = -3,  // version length with bit 15 set: nothing printed
    kNotReopened = -4,       // the low-level open refused it: "fail to open the file, ..."
    kStopped = -5,           // a stop ended the load: nothing printed
};

struct Firmware_Image {
    Image_Region First_Region;
    Image_Region Second_Region;
    // Exactly First_Region.Length and Second_Region.Length bytes; null when no
    // image is held.
    std::unique_ptr<std::uint8_t[]> First_Region_Data;
    std::unique_ptr<std::uint8_t[]> Second_Region_Data;
    Version_Record Image_Version{};
    std::string Image_File_Name;

    bool Loaded() const { return First_Region_Data != nullptr && Second_Region_Data != nullptr; }
    // Frees the regions' bytes (the version record and file name stay).
    void Release() {
        First_Region = {};
        Second_Region = {};
        First_Region_Data.reset();
        Second_Region_Data.reset();
    }
};

// The file-open dialog as the loader sees it: the file the user chose, or
// the empty name when the user cancelled, so that a cancel never loads (and
// never writes) anything. The window shows OpenDialog1; tests and the
// command-line tool hand a path in.
class ImageFileChooser {
  public:
    virtual ~ImageFileChooser() = default;
    virtual std::string Choose_File() = 0;
};

// A "dialog" that always answers the path it was given: the command-line
// tool's image argument, a test's generated image.
class Fixed_Image_File final : public ImageFileChooser {
  public:
    explicit Fixed_Image_File(std::string path) : m_path(std::move(path)) {}
    std::string Choose_File() override { return m_path; }

  private:
    std::string m_path;
};
