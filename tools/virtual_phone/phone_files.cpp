// Reading and writing the virtual phone's record and flash files.
#include "tools/virtual_phone/phone_files.h"

#include <cstdio>
#include <fstream>
#include <memory>

namespace vphone {
namespace {

struct File_Closer {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, File_Closer>;

void Put_Le32(std::vector<std::uint8_t>& out, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
    }
}

// Writes next to the target and renames over it.
bool Replace_File(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    const std::string aside = path + ".part";
    {
        File file(std::fopen(aside.c_str(), "wb"));
        if (!file) {
            return false;
        }
        if (!bytes.empty() &&
            std::fwrite(bytes.data(), 1, bytes.size(), file.get()) != bytes.size()) {
            return false;
        }
        if (std::fflush(file.get()) != 0) {
            return false;
        }
    }
    return std::rename(aside.c_str(), path.c_str()) == 0;
}

}  // namespace

std::optional<Record> Load_Record(const std::string& path) {
    File file(std::fopen(path.c_str(), "rb"));
    if (!file) {
        return std::nullopt;
    }
    Record record{};
    std::uint8_t extra = 0;
    if (std::fread(record.data(), 1, record.size(), file.get()) != record.size() ||
        std::fread(&extra, 1, 1, file.get()) != 0) {
        return std::nullopt;
    }
    return record;
}

bool Save_Record(const std::string& path, const Record& record) {
    return Replace_File(path, {record.begin(), record.end()});
}

bool Save_Flash(const std::string& path, const std::vector<Flash_Region>& flash) {
    std::vector<std::uint8_t> out(std::begin(kFlashFileMagic), std::end(kFlashFileMagic));
    Put_Le32(out, static_cast<std::uint32_t>(flash.size()));
    for (const auto& region : flash) {
        Put_Le32(out, region.start);
        Put_Le32(out, region.length);
        Put_Le32(out, static_cast<std::uint32_t>(region.bytes.size()));
        out.insert(out.end(), region.bytes.begin(), region.bytes.end());
    }
    return Replace_File(path, out);
}

std::string Deviations_Path(const std::string& record_path) {
    return record_path + ".deviations";
}

std::vector<std::string> Load_Lines(const std::string& path) {
    std::ifstream file(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(file, line);) {
        lines.push_back(line);
    }
    return lines;
}

bool Save_Lines(const std::string& path, const std::vector<std::string>& lines) {
    std::vector<std::uint8_t> out;
    for (const auto& line : lines) {
        out.insert(out.end(), line.begin(), line.end());
        out.push_back('\n');
    }
    return Replace_File(path, out);
}

}  // namespace vphone
