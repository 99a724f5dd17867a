// SHA-256 of an image, so that a journal's record names exactly which file
// was written to a phone, whatever its name.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>

class Sha256 {
  public:
    Sha256();
    void Update(std::span<const std::uint8_t> bytes);
    // The digest of everything given; the object is spent afterwards.
    std::array<std::uint8_t, 32> Finish();
    // The digest as 64 lower-case hex digits.
    std::string Finish_Hex();

  private:
    void Block(const std::uint8_t* block);
    std::array<std::uint32_t, 8> m_state;
    std::array<std::uint8_t, 64> m_buffer{};
    std::size_t m_buffered = 0;
    std::uint64_t m_length = 0;  // bytes given so far
};

// The digest of a file's bytes; empty when it cannot be read to its end.
std::string Sha256_Of_File(const std::string& path);
