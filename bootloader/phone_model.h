// Every fact of the phone model this program updates, in one descriptor: the
// version record's layout, what opens the record inside a boot-loader dump,
// the flash block size, the dump file's name and the titles that name the
// model or its tool. The boot loader's protocol (command bytes, replies, time
// limits) is the same for every model and stays in protocol.h.
//
// It lives in the lowest layer that needs it; the layers above read it from
// here. tools/virtual_phone never includes it: the virtual phone is written
// from the protocol, so that the two cannot agree on a mistake.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

// One field of the version record: bytes begin to begin + size - 1.
struct Record_Field {
    std::size_t begin;
    std::size_t size;
    constexpr std::size_t End() const { return begin + size; }
};

// The version record, as the comparison reads it: the prefix first (a phone
// whose prefix differs from the image's is on its first run), then version
// code and language (either differing stops the update), one checked byte,
// and the version number, whose decimal digits only inform.
struct Version_Record_Layout {
    std::size_t size;  // bytes of the whole record, spare bytes included
    Record_Field prefix;
    Record_Field version_code;
    Record_Field language;
    Record_Field checked_byte;
    Record_Field number;
};

struct Phone_Model {
    std::string_view name;  // as the command line's usage names it
    Version_Record_Layout record;
    // The record inside a boot-loader dump begins with this text, which is
    // also the record's prefix; only the dump's first bytes are searched.
    std::string_view dump_marker;
    std::uint32_t dump_search_size;
    std::uint32_t block_size;  // flash data block, bytes
    // The dump file's name, and on Windows the directory tried first.
    std::string_view dump_name;
    std::string_view windows_dump_directory;
    // The main window's caption; the application's title (the taskbar's name
    // and the completion box's caption); the station window's title.
    std::string_view window_title;
    std::string_view application_title;
    std::string_view station_title_english;
    std::string_view station_title_chinese;
};

inline constexpr Phone_Model kCorvelM418{
    .name = "Corvel M418",
    .record =
        {
            .size = 32,
            .prefix = {0, 16},
            .version_code = {16, 4},
            .language = {20, 4},
            .checked_byte = {24, 1},
            .number = {25, 5},
        },
    .dump_marker = "CVLbootloaderVC_",
    .dump_search_size = 4096,
    .block_size = 32768,
    .dump_name = "VANTREL",
    .windows_dump_directory = "d:\\",
    .window_title = "Corvel VANTREL TOOL (M418)",
    .application_title = "Vantrel Tool",
    .station_title_english = "Vantrel Tool station",
    .station_title_chinese = "Vantrel Tool 多機更新站",
};

// The model this program updates; the code reads every fact through it.
inline constexpr const Phone_Model& kPhoneModel = kCorvelM418;

// A record taken from a dump begins with the marker, so the marker is the
// prefix the first-run check compares; the fields follow each other inside
// the record; a dump's record lies wholly inside the part searched.
static_assert(kPhoneModel.dump_marker.size() == kPhoneModel.record.prefix.size);
static_assert(kPhoneModel.record.prefix.End() <= kPhoneModel.record.version_code.begin &&
              kPhoneModel.record.version_code.End() <= kPhoneModel.record.language.begin &&
              kPhoneModel.record.language.End() <= kPhoneModel.record.checked_byte.begin &&
              kPhoneModel.record.checked_byte.End() <= kPhoneModel.record.number.begin &&
              kPhoneModel.record.number.End() <= kPhoneModel.record.size);
static_assert(kPhoneModel.record.size <= kPhoneModel.dump_search_size);
static_assert(kPhoneModel.block_size > 0);
