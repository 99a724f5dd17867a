// The ustar header is written field by field: octal numbers, NUL-padded
// names, the checksum over the header with its own field as spaces.
#include "cli/tar_gz.h"

#include <algorithm>
#include <cstring>

namespace cli {
namespace {

constexpr std::size_t kBlock = 512;

void Put_Text(char* field, std::size_t size, const std::string& text) {
    std::memcpy(field, text.data(), std::min(size, text.size()));
}

// size - 1 octal digits and a NUL, as every tar reader takes them; a value
// too large for the field keeps its low digits (no file here comes near).
void Put_Octal(char* field, std::size_t size, std::uint64_t value) {
    for (std::size_t i = size - 1; i-- > 0; value /= 8)
        field[i] = static_cast<char>('0' + value % 8);
    field[size - 1] = '\0';
}

}  // namespace

void Tar_Archive::Add(const std::string& name, const std::string& content, std::int64_t mtime) {
    char header[kBlock] = {};
    Put_Text(header, 100, name);
    Put_Octal(header + 100, 8, 0600);
    Put_Octal(header + 108, 8, 0);
    Put_Octal(header + 116, 8, 0);
    Put_Octal(header + 124, 12, content.size());
    Put_Octal(header + 136, 12, static_cast<std::uint64_t>(std::max<std::int64_t>(mtime, 0)));
    std::memset(header + 148, ' ', 8);
    header[156] = '0';
    Put_Text(header + 257, 6, std::string("ustar", 6));
    Put_Text(header + 263, 2, "00");
    unsigned checksum = 0;
    for (const char byte : header)
        checksum += static_cast<unsigned char>(byte);
    Put_Octal(header + 148, 7, checksum);
    m_bytes.append(header, kBlock);
    m_bytes += content;
    m_bytes.append((kBlock - content.size() % kBlock) % kBlock, '\0');
}

std::string Tar_Archive::Bytes() const {
    return m_bytes + std::string(2 * kBlock, '\0');
}

}  // namespace cli
