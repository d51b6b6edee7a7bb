#pragma once

// MD5 (RFC 1321) through OpenSSL's EVP digest interface. The MD5
// implementation is looked up once per process; every Md5 object owns its own
// digest context. Each failure writes one message naming the OpenSSL call
// that failed ("EVP_DigestUpdate failed: " + OpenSSL's text + "\n").

#include <cstddef>
#include <string>

// OpenSSL's context type, declared here so that users of this header need not
// see OpenSSL's headers.
struct evp_md_ctx_st;

namespace RazaDedeZuzev {

class Md5 {
 public:
  static constexpr std::size_t kHexLength = 32;

  Md5() = default;
  Md5(const Md5&) = delete;
  Md5& operator=(const Md5&) = delete;
  ~Md5();

  // Prepares a fresh digest; false after a message.
  bool Start();
  // Feeds bytes in stream order; false after a message.
  bool Update(const void* data, std::size_t size);
  // Finishes the digest and returns its 32 lowercase hex digits; empty after
  // a message. No bytes may be fed afterwards.
  std::string FinishAsHex();

  bool IsStarted() const { return context != nullptr; }

 private:
  evp_md_ctx_st* context = nullptr;
};

}  // namespace RazaDedeZuzev
