// Where the first-run dump goes: the first place that takes a file, and on
// every system a place in the temporary directory as the last resort.
#include "download/backup_path.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

class Scratch_Directory {
  public:
    Scratch_Directory() {
        std::random_device entropy;
        m_path = fs::temp_directory_path() /
                 ("flashtool-backup-" + std::to_string(entropy()) + std::to_string(entropy()));
        fs::create_directories(m_path);
    }
    ~Scratch_Directory() {
        std::error_code ignored;
        fs::remove_all(m_path, ignored);
    }
    const fs::path& Path() const { return m_path; }

  private:
    fs::path m_path;
};

TEST(BackupPath, FirstWritableCandidateWinsAndWhenNoneIsTheLastIsKept) {
    Scratch_Directory scratch;
    const std::string missing_dir = (scratch.Path() / "no-such-dir" / "VANTREL").string();
    const std::string usable = (scratch.Path() / "VANTREL").string();
    // A file where a directory should be: not even an administrator can
    // create a file below it.
    std::ofstream(scratch.Path() / "plain-file") << "x";
    const std::string under_file = (scratch.Path() / "plain-file" / "VANTREL").string();

    EXPECT_EQ(Choose_Backup_Path({missing_dir, usable}), usable);
    EXPECT_TRUE(fs::exists(usable)) << "opening for append creates the file";
    EXPECT_EQ(Choose_Backup_Path({missing_dir, under_file}), under_file);
    EXPECT_FALSE(fs::exists(under_file));
}

TEST(BackupPath, AnEarlierDumpIsKeptAndRemovalToleratesAMissingFile) {
    Scratch_Directory scratch;
    const std::string path = (scratch.Path() / "VANTREL").string();
    std::ofstream(path, std::ios::binary) << "old dump";

    EXPECT_EQ(Choose_Backup_Path({path}), path);
    EXPECT_EQ(fs::file_size(path), 8u) << "append mode never truncates";

    Remove_Backup_File(path);
    EXPECT_FALSE(fs::exists(path));
    Remove_Backup_File(path);
    EXPECT_FALSE(fs::exists(path));
}

TEST(BackupPath, SystemCandidatesEndInTheTemporaryDirectory) {
    const std::vector<std::string> candidates = Backup_Path_Candidates();
#ifdef _WIN32
    ASSERT_EQ(candidates.size(), 2u);
    EXPECT_EQ(candidates.front(), "d:\\VANTREL");
#else
    ASSERT_EQ(candidates.size(), 1u);
#endif
    EXPECT_EQ(fs::path(candidates.back()), fs::temp_directory_path() / "VANTREL");

    // The choice is one of them; a file it had to create is removed again.
    const std::string last = candidates.back();
    const bool existed = fs::exists(last);
    const std::string chosen = Choose_Backup_Path();
    EXPECT_NE(std::find(candidates.begin(), candidates.end(), chosen), candidates.end());
    if (chosen == last && !existed)
        Remove_Backup_File(chosen);
}

}  // namespace
