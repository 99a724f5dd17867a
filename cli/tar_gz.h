// An archive of a few small files as one tar (ustar), made in memory and
// gzip-compressed by its caller: what support gathers is text and logs, well
// under what memory holds, and a whole archive is written or none.
#pragma once

#include <cstdint>
#include <string>

namespace cli {

class Tar_Archive {
  public:
    // A regular file, mode 0600, at name (at most 100 bytes; longer names
    // are cut), with mtime in seconds since 1970.
    void Add(const std::string& name, const std::string& content, std::int64_t mtime);
    // The tar's bytes, with its two closing blocks.
    std::string Bytes() const;

  private:
    std::string m_bytes;
};

}  // namespace cli
