#include "platform/Md5.h"

// OpenSSL's own MD5 functions, not its EVP interface: fetching MD5 through
// EVP loads the configuration file and registers every algorithm of the
// default provider first, about 2 ms of a process's start where a one-record
// job takes 6 to 10. The functions are deprecated in OpenSSL 3 in favour of
// EVP but kept in it, and compute the same digest with the same code.
#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/err.h>
#include <openssl/md5.h>

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

}  // namespace

struct Md5::State {
  MD5_CTX context{};
  bool started = false;
};

Md5::Md5() : state(std::make_unique<State>()) {}
Md5::~Md5() = default;

bool Md5::Start(DigestError& error) {
  state->started = MD5_Init(&state->context) == 1;
  return state->started || fail("MD5_Init", error);
}

bool Md5::Update(const void* data, std::size_t size, DigestError& error) {
  return (state->started && MD5_Update(&state->context, data, size) == 1) || fail("MD5_Update", error);
}

bool Md5::Finish(Md5Digest& digest, DigestError& error) {
  const bool finished = state->started && MD5_Final(digest.data(), &state->context) == 1;
  state->started = false;
  return finished || fail("MD5_Final", error);
}

}  // namespace RazaDedeZuzev::platform
