// What the terminal shows: memo lines and version fields on standard output,
// the progress line on standard error only when drawing is on, and the trace
// file's records.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include "cli/terminal_view.h"
#include "cli/text_format.h"
#include "cli/trace_file.h"

namespace {

// A C stream whose text the test can read back.
class Captured_Stream {
  public:
    Captured_Stream() : m_file(std::tmpfile()) {}
    ~Captured_Stream() { std::fclose(m_file); }
    Captured_Stream(const Captured_Stream&) = delete;
    Captured_Stream& operator=(const Captured_Stream&) = delete;
    std::FILE* get() { return m_file; }
    std::string text() {
        std::fflush(m_file);
        std::rewind(m_file);
        std::string all;
        for (int c; (c = std::fgetc(m_file)) != EOF;)
            all.push_back(static_cast<char>(c));
        return all;
    }

  private:
    std::FILE* m_file;
};

TEST(TextFormat, ElapsedAndProgressTexts) {
    EXPECT_EQ(cli::Elapsed_Text(65), "0:1:5");
    EXPECT_EQ(cli::Elapsed_Text(3599), "0:59:59");
    EXPECT_EQ(cli::Elapsed_Text(3661), "1:1:1");

    // 64 KiB of 128 KiB in 2 s: 32 KiB/s, 2 s left.
    EXPECT_EQ(cli::Progress_Text(65536, 131072, 2.0),
              "65536/131072 bytes  50%  32.0 KiB/s  0:0:2 left");
    // No rate before any time or any byte has passed (no division by zero).
    EXPECT_EQ(cli::Progress_Text(0, 131072, 5.0), "0/131072 bytes  0%  -- KiB/s  -- left");
    EXPECT_EQ(cli::Progress_Text(10, 100, 0.0), "10/100 bytes  10%  -- KiB/s  -- left");
    // Percent of totals beyond 32 bits does not overflow; done is capped at total.
    EXPECT_EQ(cli::Progress_Text(3000000000ULL, 4000000000ULL, 0.0).substr(0, 32),
              "3000000000/4000000000 bytes  75%");
    EXPECT_EQ(cli::Progress_Text(200, 100, 0.0).substr(0, 19), "100/100 bytes  100%");
}

TEST(TextFormat, RecordsAreShownSafely) {
    const std::uint8_t record[] = {'V', '1', 0x00, 0xFF, 0x1B, '~'};
    EXPECT_EQ(cli::Printable_Text(record), "V1...~");
    EXPECT_EQ(cli::Hex_Text(record), "56 31 00 FF 1B 7E");
    // Whole UTF-8 characters stay; broken or overlong ones and escapes do not
    // reach the terminal.
    EXPECT_EQ(cli::Displayable_Text("版本 V1"), "版本 V1");
    EXPECT_EQ(cli::Displayable_Text("\xFF\xFF\x1B[2J"), "...[2J");
    EXPECT_EQ(cli::Displayable_Text("\xE7\x89"), "..");       // cut short
    EXPECT_EQ(cli::Displayable_Text("\xC0\xAF"), "..");       // overlong '/'
    EXPECT_EQ(cli::Displayable_Text("\xED\xA0\x80"), "...");  // surrogate
}

TEST(TerminalView, MemoLinesAndVersionFieldsGoToStandardOutputInOrder) {
    Captured_Stream out, err;
    cli::TerminalView view("image.bin", Language::kChinese, out.get(), err.get(), false);
    view.Print_Str_to_Tedit("V1");
    view.Print_Str_to_Tedit(std::string_view("0\0ignored", 9));
    view.Print_Str_to_Memo("first");
    view.Print_Str_to_OldTedit("V0");
    view.Print_Str_to_Memo(std::string_view("cut\0here", 8));
    view.Clean_OldTedit();  // an emptied field shows nothing
    view.Print_Str_to_Memo("");
    view.Flush_Fields();
    EXPECT_EQ(out.text(), "新版本: V10\nfirst\n舊版本: V0\ncut\n\n");
    EXPECT_EQ(err.text(), "");
    EXPECT_EQ(view.Image_Dialog().Choose_File(), "image.bin");

    Captured_Stream english_out, english_err;
    cli::TerminalView english("x", Language::kEnglish, english_out.get(), english_err.get(), false);
    english.Print_Str_to_OldTedit("V0");
    english.Show_Message_Box("Update OK!");
    EXPECT_EQ(english_out.text(), "Old version: V0\nUpdate OK!\n");
}

TEST(TerminalView, ProgressLineOnlyWhenDrawingAndShownFullAfterTheBarWraps) {
    Captured_Stream quiet_out, quiet_err;
    cli::TerminalView quiet("x", Language::kChinese, quiet_out.get(), quiet_err.get(), false);
    quiet.Set_Progress_Visible(true);
    quiet.Progress_Bar().set_maximum(100);
    quiet.Progress_Bar().set_position(50);
    quiet.Set_Progress_Visible(false);
    EXPECT_EQ(quiet_err.text(), "");
    EXPECT_EQ(quiet_out.text(), "");

    Captured_Stream out, err;
    cli::TerminalView view("x", Language::kChinese, out.get(), err.get(), true);
    ProgressBar& bar = view.Progress_Bar();
    view.Set_Progress_Visible(true);
    bar.set_minimum(0);
    bar.set_maximum(1000);
    bar.set_position(0);
    bar.set_position(1000);
    bar.set_position(0);  // the bar goes back to 0 when the last block is accepted
    view.Print_Str_to_Memo("done");
    const std::string progress = err.text();
    EXPECT_EQ(progress.substr(0, 15), "\r0/1000 bytes  ") << progress;
    EXPECT_NE(progress.find("\r1000/1000 bytes  100%"), std::string::npos) << progress;
    EXPECT_EQ(progress.find("\r0/1000", 1), std::string::npos) << progress;
    // The progress line is ended before the memo line is written.
    EXPECT_EQ(progress.back(), '\n');
    EXPECT_EQ(out.text(), "done\n");
}

TEST(TerminalView, ElapsedTimeOnlyWhenTimer1Ran) {
    Captured_Stream out, err;
    cli::TerminalView view("x", Language::kChinese, out.get(), err.get(), false);
    view.Set_Elapsed_Seconds(0);
    EXPECT_FALSE(view.Elapsed_Seconds().has_value());
    view.Set_Timer1_Enabled(true);
    view.Set_Timer1_Enabled(false);
    ASSERT_TRUE(view.Elapsed_Seconds().has_value());
    EXPECT_EQ(*view.Elapsed_Seconds(), 0);
}

TEST(TraceFile, RecordsBytesWithOperationDirectionAndOffsets) {
    const std::string path = ::testing::TempDir() + "cli-trace-test.txt";
    {
        auto trace = cli::TraceFile::Create(path);
        ASSERT_TRUE(trace);
        const std::uint8_t sync[] = {0x58};
        trace->bytes("Sync_Boot_Loader", Trace_Direction::kToPhone, sync);
        trace->bytes("Read_Phone_Version", Trace_Direction::kFromPhone, {});
        std::vector<std::uint8_t> block(40);
        for (std::size_t i = 0; i < block.size(); ++i)
            block[i] = static_cast<std::uint8_t>(i);
        trace->bytes("Download_Regions", Trace_Direction::kToPhone, block);
        trace->event("Find_Phone", "open /dev/pts/9 failed");
    }
    std::ifstream file(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(file, line);)
        lines.push_back(line);
    std::remove(path.c_str());
    ASSERT_EQ(lines.size(), 2u + 1 + 1 + 3 + 1) << "two header lines, then the records";
    EXPECT_EQ(lines[0].rfind("# flashtool-cli trace, started ", 0), 0u);
    EXPECT_NE(lines[2].find("Sync_Boot_Loader         >phone 1 58"), std::string::npos) << lines[2];
    EXPECT_NE(lines[3].find("Read_Phone_Version       <phone 0"), std::string::npos) << lines[3];
    EXPECT_NE(lines[4].find("Download_Regions         >phone 40"), std::string::npos) << lines[4];
    EXPECT_NE(lines[5].find("+000000 00 01 02"), std::string::npos) << lines[5];
    EXPECT_NE(lines[6].find("+000020 20 21 22 23 24 25 26 27"), std::string::npos) << lines[6];
    EXPECT_NE(lines[7].find("Find_Phone               -- open /dev/pts/9 failed"),
              std::string::npos)
        << lines[7];
    // Every record starts with its time stamp in milliseconds.
    for (std::size_t i : {2u, 3u, 4u, 7u}) {
        EXPECT_TRUE(std::isdigit(static_cast<unsigned char>(lines[i].at(10)))) << lines[i];
    }
    EXPECT_FALSE(cli::TraceFile::Create("/nonexistent-dir/trace.txt"));
}

}  // namespace
