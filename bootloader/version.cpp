// The phone's version record: reading it (0xE0), comparing it with the
// image's, dumping the boot loader into the dump file (0xD6) and taking the
// record from that dump, and writing the image's record into the phone (0xE1).
//
// Result codes: results.h.
//
// The dump's header comes from the phone and is not trusted: it is checked
// against the receive buffer, against 32-bit overflow and against the largest
// dump taken (16 MiB) before any block is read. The dump goes into a file the
// caller created for this run alone, and the record is read back from that
// same file.
#include <algorithm>
#include <array>
#include <cstdio>
#include <limits>
#include <memory>
#include <span>
#include <string_view>

#include "bootloader/byte_order.h"
#include "bootloader/comport.h"
#include "bootloader/phone_model.h"

namespace {

constexpr const Version_Record_Layout& kRecord = kPhoneModel.record;

bool Same_Bytes(const Version_Record& a, const Version_Record& b, Record_Field field) {
    return std::equal(a.begin() + field.begin, a.begin() + field.End(), b.begin() + field.begin);
}

}  // namespace

boot::Outcome<boot::Read_Version_Result> CComport::Read_Phone_Version(
    Version_Record& phone_version) {
    using Result = boot::Read_Version_Result;
    Operation_Scope scope(m_port, "Read_Phone_Version");
    if (const auto result = Command_With_Ack<Result>(boot::kReadVersion, m_limits.version_ack);
        result != Result::kOk) {
        return result;
    }

    // Read into a separate record so that a partial answer leaves the
    // caller's record as it was.
    Version_Record received{};
    if (const Io_Result read = m_port.Read(received, m_limits.version_record); !read)
        return Read_Failed(read, Result::kRecordIncomplete);
    phone_version = received;
    if (m_report != nullptr)
        m_report->On_Event(
            report::Update_Event::Record(report::Update_Event::Kind::kPhoneVersion, received));
    return Result::kOk;
}

boot::Compare_Result CComport::Compare_Version(const Version_Record& image_version,
                                               const Version_Record& phone_version) {
    using Result = boot::Compare_Result;
    Operation_Scope scope(m_port, "Compare_Version");
    const auto notify = [this](report::Notice notice) {
        if (m_report != nullptr)
            m_report->On_Event(report::Update_Event::Of(report::Say(notice)));
    };

    // A phone that never had a record from this program written into it holds
    // a different prefix: the caller then takes the record from a dump.
    if (!Same_Bytes(image_version, phone_version, kRecord.prefix)) {
        notify(report::Notice::kFirstRun);
        return Result::kFirstRun;
    }
    if (!Same_Bytes(image_version, phone_version, kRecord.version_code)) {
        notify(report::Notice::kVersionMismatch);
        return Result::kVersionCodeDiffers;
    }
    if (!Same_Bytes(image_version, phone_version, kRecord.language)) {
        notify(report::Notice::kLanguageMismatch);
        return Result::kLanguageDiffers;
    }
    if (!Same_Bytes(image_version, phone_version, kRecord.checked_byte))
        return Result::kCheckedByteDiffers;

    // The version numbers only inform; an older image may still be loaded.
    constexpr int kNumberDigits = static_cast<int>(kRecord.number.size);
    const int image_number = Digits_To_Int(
        reinterpret_cast<const char*>(image_version.data() + kRecord.number.begin), kNumberDigits);
    const int phone_number = Digits_To_Int(
        reinterpret_cast<const char*>(phone_version.data() + kRecord.number.begin), kNumberDigits);
    if (image_number < phone_number)
        notify(report::Notice::kPhoneNewer);
    if (image_number == phone_number)
        notify(report::Notice::kSameVersion);
    return Result::kGoOn;
}

int CComport::Digits_To_Int(const char* digits, int count) {
    if (digits == nullptr || count <= 0)
        return 0;
    // Characters are not checked to be digits: each adds (code - '0') times
    // its power of ten, its code taken as signed 8-bit. Unsigned arithmetic
    // keeps an over-long text from overflowing; five characters always fit.
    std::uint32_t value = 0;
    for (int i = 0; i < count; ++i) {
        const int code = static_cast<signed char>(digits[i]);
        value = value * 10u + static_cast<std::uint32_t>(code - '0');
    }
    return static_cast<int>(value);
}

boot::Outcome<boot::Dump_Result> CComport::Backup_Boot_Loader(std::FILE* dump) {
    using Result = boot::Dump_Result;
    Operation_Scope scope(m_port, "Backup_Boot_Loader");
    // Without a file to keep it in, the dump is not asked for at all: the
    // phone then has nothing pending and the next command finds it in step.
    if (dump == nullptr)
        return Result::kFileFailed;

    if (const auto result = Command_With_Ack<Result>(boot::kReadBootLoader, m_limits.version_ack);
        result != Result::kOk) {
        return result;
    }

    std::array<std::uint8_t, 4> field{};
    if (const Io_Result read = m_port.Read(field, m_limits.dump_header); !read)
        return Read_Failed(read, Result::kNoBlockCount);
    const std::uint32_t block_count = Read_Big_Endian_32(field.data());
    if (const Io_Result read = m_port.Read(field, m_limits.dump_header); !read)
        return Read_Failed(read, Result::kNoBlockOrSize);
    const std::uint32_t block_size = Read_Big_Endian_32(field.data());

    if (block_size > boot::kDumpBufferSize)
        return Result::kBlockTooLarge;
    if (block_size != 0 && block_count > std::numeric_limits<std::uint32_t>::max() / block_size) {
        return Result::kSizeOverflow;
    }
    const std::uint32_t total = block_count * block_size;
    // A boot loader is far smaller; a phone that announces more would only
    // fill the disk.
    if (total > boot::kMaxDumpBytes)
        return Result::kDumpTooLarge;

    // Each block goes to the file before the next is read: the dump is never
    // held in memory as a whole. When the file refuses a block, the rest of
    // the dump is still received so that the phone finishes sending and the
    // link stays in step for the commands that follow.
    std::array<std::uint8_t, boot::kDumpBufferSize> buffer{};
    const std::span<std::uint8_t> block(buffer.data(), block_size);
    bool file_ok = true;
    for (std::uint32_t received = 0; received < total; received += block_size) {
        if (const Io_Result read = m_port.Read(block, m_limits.dump_block); !read) {
            std::fflush(dump);
            return Read_Failed(read, Result::kNoBlockOrSize);
        }
        if (file_ok && std::fwrite(block.data(), 1, block.size(), dump) != block.size())
            file_ok = false;
    }
    // A full disk may only show when the last bytes are flushed.
    if (std::fflush(dump) != 0)
        file_ok = false;
    return file_ok ? Result::kOk : Result::kFileFailed;
}

boot::Find_Version_Result CComport::Find_Version_In_Backup(std::FILE* dump, std::string_view marker,
                                                           Version_Record& destination) {
    using Result = boot::Find_Version_Result;
    Operation_Scope scope(m_port, "Find_Version_In_Backup");
    // Only the file's first bytes are searched, as many as the model's record
    // may lie in; the file holds this run's dump alone, so the record cannot
    // come from an older one.
    std::array<std::uint8_t, kPhoneModel.dump_search_size> head{};
    if (dump == nullptr || std::fseek(dump, 0, SEEK_SET) != 0 ||
        std::fread(head.data(), 1, head.size(), dump) != head.size()) {
        return Result::kTooShort;
    }

    if (marker.empty())
        return Result::kNoMarker;
    const auto marker_bytes =
        std::span(reinterpret_cast<const std::uint8_t*>(marker.data()), marker.size());
    const auto found =
        std::search(head.begin(), head.end(), marker_bytes.begin(), marker_bytes.end());
    if (found == head.end())
        return Result::kNoMarker;
    // A marker too close to the end has no whole record after it.
    if (static_cast<std::size_t>(head.end() - found) < destination.size())
        return Result::kNoMarker;
    std::copy_n(found, destination.size(), destination.begin());
    return Result::kOk;
}

boot::Outcome<boot::Write_Version_Result> CComport::Write_Phone_Version(
    const Version_Record& image_version) {
    using Result = boot::Write_Version_Result;
    Operation_Scope scope(m_port, "Write_Phone_Version");
    if (const auto result = Command_With_Ack<Result>(boot::kWriteVersion, m_limits.version_ack);
        result != Result::kOk) {
        return result;
    }
    // The boot loader stores the record without acknowledging it.
    if (const Io_Result written = m_port.Write(image_version); !written)
        return Write_Failed(written, Result::kRecordNotWritten);
    return Result::kOk;
}
