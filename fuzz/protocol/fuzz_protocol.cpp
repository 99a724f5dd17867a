// libFuzzer target: the boot-loader operations of CComport, one download's
// worth in the download command's order, answered by an arbitrary byte stream
// from a scripted phone. Whatever the phone says, the host must not crash,
// overrun a buffer, read without a time limit, return a result outside the
// documented ones, send a block other than the image's bytes, or claim a
// finished transfer that did not send every block.
//
// Input: byte 0 chooses the path (bit 0: search for the phone instead of
// opening the port; bit 1: take the first-run path with the boot-loader dump),
// bytes 1-3 the first region's length (little-endian, at most a little over
// three blocks), bytes 4-5 the second region's length; the rest is what the
// phone answers, read in order by every operation.
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <initializer_list>
#include <set>
#include <string>
#include <vector>

#include "bootloader/comport.h"
#include "platform/file_handle.h"
#include "tests/support/scripted_port.h"

namespace {

constexpr std::uint32_t kMaxFirstRegion = 3 * kPhoneModel.block_size + 7;

// Takes the operations' report and keeps only the bytes sent.
class Byte_Report final : public report::Update_Observer {
  public:
    void On_Event(const report::Update_Event&) override {}
    void On_Bytes(std::uint64_t sent, std::uint64_t of) override {
        done = sent;
        total = of;
    }
    std::uint64_t done = 0;
    std::uint64_t total = 0;
};

// The dump file of this fuzzing process, emptied for every input and removed
// when the process ends.
class Scratch_File {
  public:
    Scratch_File() {
        const char* directory = std::getenv("TMPDIR");
        m_path = std::string(directory && *directory ? directory : "/tmp") + "/fuzz-dump-" +
                 std::to_string(::getpid());
    }
    ~Scratch_File() { std::remove(m_path.c_str()); }
    const std::string& Path() const { return m_path; }

  private:
    std::string m_path;
};

const std::string& Dump_Path() {
    static const Scratch_File file;
    return file.Path();
}

void Require(bool condition) {
    if (!condition)
        std::abort();
}

void Require_In(int result, std::initializer_list<int> allowed) {
    Require(std::find(allowed.begin(), allowed.end(), result) != allowed.end());
}

std::uintmax_t File_Size(const std::string& path) {
    std::error_code error;
    const std::uintmax_t size = std::filesystem::file_size(path, error);
    return error ? 0 : size;
}

std::size_t Bytes_Read(const ScriptedPort& port) {
    std::size_t total = 0;
    for (const auto& read : port.reads())
        total += read.got;
    return total;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 6)
        return 0;
    const bool search = (data[0] & 1) != 0;
    const bool first_run = (data[0] & 2) != 0;
    const std::uint32_t first_length =
        (std::uint32_t{data[1]} | std::uint32_t{data[2]} << 8 | std::uint32_t{data[3]} << 16) %
        (kMaxFirstRegion + 1);
    const std::uint32_t second_length = std::uint32_t{data[4]} | std::uint32_t{data[5]} << 8;

    ScriptedPort phone;
    phone.check_writes = false;
    phone.Reply(std::span(data + 6, size - 6));
    CComport port(phone.Backend(), Make_Fixed_Port_Lister({"/dev/ttyFUZZ0"}));
    Byte_Report report;
    port.Set_Report(&report);

    if (search) {
        Port_Candidate found;
        found.number = 0xBEEF;
        if (!port.Find_Phone(&found))
            Require(found.number == 0xBEEF);  // nothing stored on failure
    } else {
        Require(port.Open("/dev/ttyFUZZ0"));
    }

    Version_Record image_version{};
    image_version.fill('7');
    Version_Record phone_version{};
    phone_version.fill(0xEE);
    const Version_Record before = phone_version;
    const int read_result = boot::Code(port.Read_Phone_Version(phone_version));
    Require_In(read_result, {0, 1, 2, 3, 4});
    if (read_result != 0)
        Require(phone_version == before);
    Require_In(boot::Code(port.Compare_Version(image_version, phone_version)), {0, 1, 2, 3, 4});

    if (first_run) {
        const std::string& dump = Dump_Path();
        std::remove(dump.c_str());
        const File_Handle file(std::fopen(dump.c_str(), "w+b"));
        Require(file != nullptr);
        const std::size_t read_before = Bytes_Read(phone);
        Require_In(boot::Code(port.Backup_Boot_Loader(file.get())), {0, 1, 2, 3, 4, 5, 6, 7, 8, 9});
        // Only block bytes reach the file, never the acknowledgement or header.
        const std::size_t dumped = Bytes_Read(phone) - read_before;
        Require(File_Size(dump) + std::min<std::size_t>(dumped, 9) <= dumped);
        const Version_Record kept = phone_version;
        const int found = boot::Code(
            port.Find_Version_In_Backup(file.get(), kPhoneModel.dump_marker, phone_version));
        Require_In(found, {0, 1, 2});
        if (found != 0)
            Require(phone_version == kept);
        Require_In(boot::Code(port.Compare_Version(image_version, phone_version)), {0, 1, 2, 3, 4});
    }
    Require_In(boot::Code(port.Write_Phone_Version(image_version)), {0, 1, 2, 3});

    std::vector<std::uint8_t> first_data(first_length);
    std::vector<std::uint8_t> second_data(second_length);
    for (std::size_t i = 0; i < first_data.size(); ++i)
        first_data[i] = static_cast<std::uint8_t>(i * 7 + 3);
    for (std::size_t i = 0; i < second_data.size(); ++i)
        second_data[i] = static_cast<std::uint8_t>(i * 13 + 1);
    const Image_Region first{0x10000, 0x10000 + first_length - 1, first_length};
    const Image_Region second{0x800000, 0x800000 + second_length - 1, second_length};
    Require_In(boot::Code(port.Set_Regions(first, second)), {0, 1, 2, 3, 4, 5, 6, 8, 9});
    port.Progress_Init(static_cast<int>(first_length + second_length));

    const std::size_t writes_before = phone.writes().size();
    const int result =
        boot::Code(port.Download_Regions(first, second, {first_data.data(), second_data.data()}));
    Require_In(result, {0, 1, 2, 3, 4, 5, 6, 8, 9, 10, 11, 12, 13, 14, 15, 19, 20});
    Require(report.done <= report.total);

    // Every block the host sent is a whole block of the image, straight from
    // its buffer, followed by its sum.
    const std::array<const std::vector<std::uint8_t>*, 2> regions{&first_data, &second_data};
    std::set<std::pair<int, std::size_t>> blocks_sent;
    const auto& writes = phone.writes();
    for (std::size_t w = writes_before; w < writes.size(); ++w) {
        for (int r = 0; r < 2; ++r) {
            const auto& buffer = *regions[r];
            if (buffer.empty() || writes[w].source < buffer.data() ||
                writes[w].source >= buffer.data() + buffer.size())
                continue;
            const std::size_t offset = static_cast<std::size_t>(writes[w].source - buffer.data());
            Require(offset % kPhoneModel.block_size == 0);
            Require(writes[w].bytes.size() ==
                    std::min<std::size_t>(buffer.size() - offset, kPhoneModel.block_size));
            Require(std::equal(writes[w].bytes.begin(), writes[w].bytes.end(),
                               buffer.begin() + static_cast<std::ptrdiff_t>(offset)));
            if (writes[w].ok) {
                std::uint16_t sum = 0;
                for (const std::uint8_t byte : writes[w].bytes)
                    sum = static_cast<std::uint16_t>(sum + byte);
                Require(w + 1 < writes.size());
                Require(writes[w + 1].bytes ==
                        std::vector<std::uint8_t>{static_cast<std::uint8_t>(sum >> 8),
                                                  static_cast<std::uint8_t>(sum)});
                blocks_sent.insert({r, offset});
            }
        }
    }
    if (result == 0) {
        for (int r = 0; r < 2; ++r) {
            for (std::size_t offset = 0; offset < regions[r]->size();
                 offset += kPhoneModel.block_size)
                Require(blocks_sent.count({r, offset}) == 1);
        }
    }
    port.End_Link();
    port.Close();

    // No read may wait without a limit, or longer than the protocol allows.
    for (const auto& read : phone.reads())
        Require(read.timeout_ms > 0 && read.timeout_ms <= boot::kProtocolTimeLimits.final_ack);
    return 0;
}
