// The zip's records are written field by field, little-endian; every size
// and offset is checked against its 32-bit field before the member goes in.
#include "cli/zip_archive.h"

#include <zlib.h>

#include <chrono>
#include <optional>

#include "cli/deflate.h"

namespace cli {
namespace {

constexpr std::uint32_t kLocalSignature = 0x04034b50;
constexpr std::uint32_t kCentralSignature = 0x02014b50;
constexpr std::uint32_t kEndSignature = 0x06054b50;
// 2.0: what deflate needs.
constexpr std::uint16_t kVersion = 20;
// Made on Unix's terms: readers take the names as they are (on MS-DOS's,
// unzip would read UTF-8 names as the DOS code page whatever their flag
// says), and a member unpacked on Linux is its owner's alone, as in the tar.
constexpr std::uint16_t kMadeBy = 3 << 8 | kVersion;
constexpr std::uint32_t kOwnersFile = 0100600u << 16;
constexpr std::uint16_t kUtf8Names = 1 << 11;
constexpr std::uint16_t kStored = 0;
constexpr std::uint16_t kDeflated = 8;
constexpr std::uint64_t kLocalHeaderSize = 30;
constexpr std::uint64_t kCentralHeaderSize = 46;
constexpr std::uint64_t kEndSize = 22;
// All ones in a 32-bit or 16-bit field is zip64's mark: never written here.
constexpr std::uint64_t kMaximum32 = 0xFFFFFFFE;
constexpr std::uint64_t kMaximum16 = 0xFFFE;

void Put_16(std::string& out, std::uint64_t value) {
    out += static_cast<char>(value & 0xFF);
    out += static_cast<char>((value >> 8) & 0xFF);
}

void Put_32(std::string& out, std::uint64_t value) {
    Put_16(out, value & 0xFFFF);
    Put_16(out, (value >> 16) & 0xFFFF);
}

}  // namespace

std::string Zip_Limit_Problem(const std::string& name, std::uint64_t size, std::uint64_t offset,
                              std::uint64_t count) {
    if (size > kMaximum32)
        return name + " is over 4 GiB, more than a zip without zip64 holds";
    if (offset > kMaximum32)
        return "the archive is over 4 GiB before " + name + ", more than a zip without zip64 holds";
    if (count >= kMaximum16)
        return "the archive holds " + std::to_string(count) +
               " members already, as many as a zip without zip64 holds";
    if (name.empty() || name.size() > kMaximum16)
        return "a member's name must have 1 to " + std::to_string(kMaximum16) + " bytes";
    return {};
}

std::uint32_t Dos_Date_Time(std::int64_t since_1970) {
    using namespace std::chrono;
    const sys_seconds first{sys_days{year{1980} / 1 / 1}};
    const sys_seconds last{sys_days{year{2107} / 12 / 31} + hours(23) + minutes(59) + seconds(58)};
    sys_seconds time{std::chrono::seconds(since_1970)};
    if (time < first)
        time = first;
    if (time > last)
        time = last;
    const sys_days day = floor<days>(time);
    const year_month_day date{day};
    const hh_mm_ss<std::chrono::seconds> clock{time - day};
    const std::uint32_t dos_date = static_cast<std::uint32_t>(
        ((static_cast<int>(date.year()) - 1980) << 9) | (static_cast<unsigned>(date.month()) << 5) |
        static_cast<unsigned>(date.day()));
    const std::uint32_t dos_time =
        static_cast<std::uint32_t>((clock.hours().count() << 11) | (clock.minutes().count() << 5) |
                                   (clock.seconds().count() / 2));
    return dos_date << 16 | dos_time;
}

bool Zip_Archive::Add(const std::string& name, const std::string& content, std::int64_t mtime,
                      std::string& problem) {
    const std::uint64_t offset = m_members.size();
    problem = Zip_Limit_Problem(name, content.size(), offset, m_count);
    if (!problem.empty())
        return false;
    const std::optional<std::string> deflated = Deflated(content, Deflate_Frame::kRaw);
    if (!deflated) {
        problem = "zlib could not compress " + name;
        return false;
    }
    // An empty or incompressible member is stored as it is.
    const bool stored = deflated->size() >= content.size();
    const std::string& data = stored ? content : *deflated;
    const std::uint64_t end = offset + kLocalHeaderSize + name.size() + data.size();
    if (end + m_directory.size() + kCentralHeaderSize + name.size() + kEndSize > kMaximum32) {
        problem = "the archive would be over 4 GiB with " + name +
                  ", more than a zip without zip64 holds";
        return false;
    }
    const std::uint64_t crc =
        crc32_z(0, reinterpret_cast<const Bytef*>(content.data()), content.size());
    const std::uint32_t when = Dos_Date_Time(mtime);

    // What the local header and the directory's entry share, from the version needed on.
    std::string common;
    Put_16(common, kVersion);
    Put_16(common, kUtf8Names);
    Put_16(common, stored ? kStored : kDeflated);
    Put_16(common, when & 0xFFFF);
    Put_16(common, when >> 16);
    Put_32(common, crc);
    Put_32(common, data.size());
    Put_32(common, content.size());
    Put_16(common, name.size());
    Put_16(common, 0);  // no extra field

    Put_32(m_members, kLocalSignature);
    m_members += common;
    m_members += name;
    m_members += data;

    Put_32(m_directory, kCentralSignature);
    Put_16(m_directory, kMadeBy);
    m_directory += common;
    Put_16(m_directory, 0);  // no comment
    Put_16(m_directory, 0);  // on the first disk
    Put_16(m_directory, 0);  // internal attributes
    Put_32(m_directory, kOwnersFile);
    Put_32(m_directory, offset);
    m_directory += name;
    ++m_count;
    return true;
}

std::string Zip_Archive::Bytes() const {
    std::string end;
    Put_32(end, kEndSignature);
    Put_16(end, 0);  // this disk
    Put_16(end, 0);  // the directory's disk
    Put_16(end, m_count);
    Put_16(end, m_count);
    Put_32(end, m_directory.size());
    Put_32(end, m_members.size());
    Put_16(end, 0);  // no comment
    return m_members + m_directory + end;
}

}  // namespace cli
