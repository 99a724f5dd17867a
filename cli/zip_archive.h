// An archive of a few small files as one zip, made in memory as the tar.gz
// is: each member deflated (or stored, where deflating gains nothing), its
// name in UTF-8, then the central directory and the end record. No zip64:
// what support gathers stays far below 4 GiB, and a member that would not
// is refused with the reason rather than written wrong.
#pragma once

#include <cstdint>
#include <string>

namespace cli {

class Zip_Archive {
  public:
    // A file at name (UTF-8, '/' between folders) with mtime in seconds since
    // 1970, written as its UTC date and time. False, with problem, when zip
    // cannot hold it (a member or the archive over 4 GiB, too many members)
    // or zlib refuses; the archive is then as it was.
    bool Add(const std::string& name, const std::string& content, std::int64_t mtime,
             std::string& problem);
    // The archive's bytes: the members, their directory and the end record.
    std::string Bytes() const;

  private:
    std::string m_members;
    std::string m_directory;
    std::uint32_t m_count = 0;
};

// Why a member of size bytes named name cannot be added at offset (where its
// header would begin) of an archive holding count members; empty when it can.
std::string Zip_Limit_Problem(const std::string& name, std::uint64_t size, std::uint64_t offset,
                              std::uint64_t count);

// The DOS date (high 16 bits) and time (low 16 bits) of since_1970 seconds,
// UTC, to the even second; before 1980, 1980-01-01 00:00.
std::uint32_t Dos_Date_Time(std::int64_t since_1970);

}  // namespace cli
