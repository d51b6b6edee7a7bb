#pragma once

// Bytes as lowercase hexadecimal text, two digits per byte with the leading
// zero kept ("%02x" each): digests, first blocks and escaped bytes. By
// table, since formatted printing costs more than a small file's digest.

#include <cstddef>
#include <string>

namespace RazaDedeZuzev {

inline void appendHex(std::string& out, const unsigned char* bytes, std::size_t count) {
  static constexpr char kDigits[] = "0123456789abcdef";
  for (std::size_t i = 0; i < count; ++i) {
    out.push_back(kDigits[bytes[i] >> 4]);
    out.push_back(kDigits[bytes[i] & 0xF]);
  }
}

}  // namespace RazaDedeZuzev
