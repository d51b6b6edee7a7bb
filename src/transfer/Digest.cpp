#include "transfer/Digest.h"

#include "base/Logger.h"

namespace RazaDedeZuzev {

std::string digestAsHex(const platform::Md5Digest& digest) {
  // Two lowercase digits per byte, leading zero kept ("%02x" each); by table,
  // since formatted printing costs more than a small file's digest.
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text(2 * digest.size(), '0');
  for (std::size_t i = 0; i < digest.size(); ++i) {
    text[2 * i] = kDigits[digest[i] >> 4];
    text[2 * i + 1] = kDigits[digest[i] & 0xF];
  }
  return text;
}

void reportDigestFailure(const platform::DigestError& error) {
  Logger::GetInstance() << error.call << " failed: " << error.text << "\n";
}

}  // namespace RazaDedeZuzev
