#include "copy/Md5.h"

#include <openssl/err.h>
#include <openssl/evp.h>

#include "app/Logger.h"

namespace RazaDedeZuzev {
namespace {

// OpenSSL's text for the error it queued last, with a line break at its end
// as system error texts have; empty when nothing was queued. The queue is
// emptied so that a later report does not show a stale error.
std::string takeOpenSslErrorText() {
  const unsigned long code = ERR_peek_last_error();
  ERR_clear_error();
  if (code == 0) return {};
  char text[256];
  ERR_error_string_n(code, text, sizeof text);
  return std::string(text) + "\n";
}

void reportFailure(const char* call) {
  Logger::GetInstance() << call << " failed: " << takeOpenSslErrorText() << "\n";
}

// Looked up once and kept for the life of the process: fetching an
// implementation searches OpenSSL's providers, which is far costlier than a
// small file's whole digest.
const EVP_MD* md5Implementation() {
  static const EVP_MD* const implementation = EVP_MD_fetch(nullptr, "MD5", nullptr);
  return implementation;
}

}  // namespace

Md5::~Md5() { EVP_MD_CTX_free(context); }

bool Md5::Start() {
  const EVP_MD* implementation = md5Implementation();
  if (implementation == nullptr) {
    reportFailure("EVP_MD_fetch");
    return false;
  }
  if (context == nullptr) {
    context = EVP_MD_CTX_new();
    if (context == nullptr) {
      reportFailure("EVP_MD_CTX_new");
      return false;
    }
  }
  if (EVP_DigestInit_ex2(context, implementation, nullptr) != 1) {
    reportFailure("EVP_DigestInit_ex2");
    EVP_MD_CTX_free(context);
    context = nullptr;
    return false;
  }
  return true;
}

bool Md5::Update(const void* data, std::size_t size) {
  if (context == nullptr || EVP_DigestUpdate(context, data, size) != 1) {
    reportFailure("EVP_DigestUpdate");
    return false;
  }
  return true;
}

std::string Md5::FinishAsHex() {
  unsigned char digest[EVP_MAX_MD_SIZE] = {};
  unsigned int length = 0;
  if (context == nullptr || EVP_DigestFinal_ex(context, digest, &length) != 1 || length != 16) {
    reportFailure("EVP_DigestFinal_ex");
    return {};
  }
  // Two lowercase digits per byte, leading zero kept ("%02x" each); by table,
  // since formatted printing costs more than a small file's digest.
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text(kHexLength, '0');
  for (unsigned int i = 0; i < length; ++i) {
    text[2 * i] = kDigits[digest[i] >> 4];
    text[2 * i + 1] = kDigits[digest[i] & 0xF];
  }
  return text;
}

}  // namespace RazaDedeZuzev
