// support's archive in the Windows build: a zip, which Windows opens itself.
#include "cli/support_archive.h"
#include "cli/zip_archive.h"

namespace cli {
namespace {

class Zip_Support_Archive final : public Support_Archive {
  public:
    bool Add(const std::string& name, const std::string& content, std::int64_t mtime,
             std::string& problem) override {
        return m_zip.Add(name, content, mtime, problem);
    }
    std::optional<std::string> Bytes(std::string&) const override { return m_zip.Bytes(); }

  private:
    Zip_Archive m_zip;
};

}  // namespace

std::unique_ptr<Support_Archive> Make_Support_Archive() {
    return std::make_unique<Zip_Support_Archive>();
}

std::string Support_Archive_Extension() {
    return ".zip";
}

}  // namespace cli
