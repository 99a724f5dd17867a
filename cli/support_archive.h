// The one archive support writes its members into, one by one: a tar.gz in
// the Linux build, a zip in the Windows build, where it is what Explorer
// opens (CMake builds support_archive_tar_gz.cpp or support_archive_zip.cpp).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace cli {

class Support_Archive {
  public:
    virtual ~Support_Archive() = default;
    // A file at name with mtime in seconds since 1970; false, with problem,
    // when the archive cannot hold it.
    virtual bool Add(const std::string& name, const std::string& content, std::int64_t mtime,
                     std::string& problem) = 0;
    // The whole archive as written to its file; none, with problem, when it
    // cannot be made.
    virtual std::optional<std::string> Bytes(std::string& problem) const = 0;
};

std::unique_ptr<Support_Archive> Make_Support_Archive();
// The default name's ending: ".tar.gz" or ".zip".
std::string Support_Archive_Extension();

}  // namespace cli
