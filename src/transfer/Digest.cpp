#include "transfer/Digest.h"

#include "base/Logger.h"

namespace RazaDedeZuzev {

void reportDigestFailure(const platform::DigestError& error) {
  Logger::GetInstance() << error.call << " failed: " << error.text << "\n";
}

bool Digest::Start() {
  platform::DigestError error;
  if (md5.Start(error)) return true;
  reportDigestFailure(error);
  return false;
}

bool Digest::Update(const void* data, std::size_t size) {
  platform::DigestError error;
  if (md5.Update(data, size, error)) return true;
  reportDigestFailure(error);
  return false;
}

std::string Digest::FinishAsHex() {
  platform::Md5Digest digest{};
  platform::DigestError error;
  if (!md5.Finish(digest, error)) {
    reportDigestFailure(error);
    return {};
  }
  // Two lowercase digits per byte, leading zero kept ("%02x" each); by table,
  // since formatted printing costs more than a small file's digest.
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text(kHexLength, '0');
  for (std::size_t i = 0; i < digest.size(); ++i) {
    text[2 * i] = kDigits[digest[i] >> 4];
    text[2 * i + 1] = kDigits[digest[i] & 0xF];
  }
  return text;
}

}  // namespace RazaDedeZuzev
