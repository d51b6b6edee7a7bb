#pragma once

// The MD5 digest of the bytes a copy moves, as the result lines report it:
// 32 lowercase hex digits. Each failure writes one message naming the call
// of the system's crypto service that failed, followed by the service's
// text ("EVP_DigestUpdate failed: " + text + "\n").

#include <cstddef>
#include <string>

#include "platform/Md5.h"

namespace RazaDedeZuzev {

class Digest {
 public:
  static constexpr std::size_t kHexLength = 32;

  // Prepares a fresh digest; false after a message.
  bool Start();
  // Feeds bytes in stream order; false after a message.
  bool Update(const void* data, std::size_t size);
  // Finishes the digest and returns its 32 lowercase hex digits; empty after
  // a message. No bytes may be fed afterwards.
  std::string FinishAsHex();

 private:
  platform::Md5 md5;
};

// A digest failure's message: the call, " failed: ", its text, "\n".
void reportDigestFailure(const platform::DigestError& error);

}  // namespace RazaDedeZuzev
