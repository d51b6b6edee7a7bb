#pragma once

// The MD5 digest (RFC 1321) of the system's crypto service: the CryptoAPI on
// Windows, OpenSSL's libcrypto on POSIX. Each object owns its own digest
// state and may be used from any one thread at a time.

#include <array>
#include <cstddef>
#include <memory>
#include <string>

namespace RazaDedeZuzev::platform {

// Which call of the crypto service failed, and the service's text for why
// (with its trailing line break, like a system error text; may be empty).
struct DigestError {
  const char* call = "";
  std::string text;
};

using Md5Digest = std::array<unsigned char, 16>;

class Md5 {
 public:
  Md5();
  Md5(const Md5&) = delete;
  Md5& operator=(const Md5&) = delete;
  ~Md5();

  // Prepares a fresh digest; false with the failing call in `error`.
  bool Start(DigestError& error);
  // Feeds bytes in stream order.
  bool Update(const void* data, std::size_t size, DigestError& error);
  // Finishes the digest; no bytes may be fed afterwards.
  bool Finish(Md5Digest& digest, DigestError& error);

 private:
  struct State;
  std::unique_ptr<State> state;
};

}  // namespace RazaDedeZuzev::platform
