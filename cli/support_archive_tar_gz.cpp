// support's archive in the Linux build: a gzip-compressed tar.
#include "cli/deflate.h"
#include "cli/support_archive.h"
#include "cli/tar_gz.h"

namespace cli {
namespace {

class Tar_Gz_Archive final : public Support_Archive {
  public:
    bool Add(const std::string& name, const std::string& content, std::int64_t mtime,
             std::string&) override {
        m_tar.Add(name, content, mtime);
        return true;
    }
    std::optional<std::string> Bytes(std::string& problem) const override {
        std::optional<std::string> compressed = Deflated(m_tar.Bytes(), Deflate_Frame::kGzip);
        if (!compressed)
            problem = "zlib could not compress the archive";
        return compressed;
    }

  private:
    Tar_Archive m_tar;
};

}  // namespace

std::unique_ptr<Support_Archive> Make_Support_Archive() {
    return std::make_unique<Tar_Gz_Archive>();
}

std::string Support_Archive_Extension() {
    return ".tar.gz";
}

}  // namespace cli
