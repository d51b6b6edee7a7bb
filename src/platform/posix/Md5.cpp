#include "platform/Md5.h"

#include <openssl/err.h>
#include <openssl/evp.h>

#include <algorithm>

namespace RazaDedeZuzev::platform {
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

bool fail(const char* call, DigestError& error) {
  error.call = call;
  error.text = takeOpenSslErrorText();
  return false;
}

// Looked up once and kept for the life of the process: fetching an
// implementation searches OpenSSL's providers, which is far costlier than a
// small file's whole digest.
const EVP_MD* md5Implementation() {
  static const EVP_MD* const implementation = EVP_MD_fetch(nullptr, "MD5", nullptr);
  return implementation;
}

}  // namespace

struct Md5::State {
  EVP_MD_CTX* context = nullptr;
  ~State() { EVP_MD_CTX_free(context); }
};

Md5::Md5() : state(std::make_unique<State>()) {}
Md5::~Md5() = default;

bool Md5::Start(DigestError& error) {
  const EVP_MD* implementation = md5Implementation();
  if (implementation == nullptr) return fail("EVP_MD_fetch", error);
  if (state->context == nullptr) {
    state->context = EVP_MD_CTX_new();
    if (state->context == nullptr) return fail("EVP_MD_CTX_new", error);
  }
  if (EVP_DigestInit_ex2(state->context, implementation, nullptr) != 1) {
    EVP_MD_CTX_free(state->context);
    state->context = nullptr;
    return fail("EVP_DigestInit_ex2", error);
  }
  return true;
}

bool Md5::Update(const void* data, std::size_t size, DigestError& error) {
  if (state->context == nullptr || EVP_DigestUpdate(state->context, data, size) != 1) {
    return fail("EVP_DigestUpdate", error);
  }
  return true;
}

bool Md5::Finish(Md5Digest& digest, DigestError& error) {
  unsigned char bytes[EVP_MAX_MD_SIZE] = {};
  unsigned int length = 0;
  if (state->context == nullptr || EVP_DigestFinal_ex(state->context, bytes, &length) != 1 ||
      length != digest.size()) {
    return fail("EVP_DigestFinal_ex", error);
  }
  std::copy(bytes, bytes + digest.size(), digest.begin());
  return true;
}

}  // namespace RazaDedeZuzev::platform
