#include "transfer/Digest.h"

#include "base/Hex.h"
#include "base/Logger.h"

namespace RazaDedeZuzev {

std::string digestAsHex(const platform::Md5Digest& digest) {
  std::string text;
  text.reserve(2 * digest.size());
  appendHex(text, digest.data(), digest.size());
  return text;
}

void reportDigestFailure(const platform::DigestError& error) {
  Logger::GetInstance() << error.call << " failed: " << error.text << "\n";
}

}  // namespace RazaDedeZuzev
