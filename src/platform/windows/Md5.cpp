#include "platform/Md5.h"

#include <algorithm>

#include "platform/UniqueHandle.h"
#include "platform/windows/Win32.h"

// After windows.h, which it needs.
#include <wincrypt.h>

namespace RazaDedeZuzev::platform {
namespace {

struct CryptProviderTraits {
  using Handle = HCRYPTPROV;
  static constexpr Handle invalid() { return 0; }
  static void close(Handle provider) { ::CryptReleaseContext(provider, 0); }
};

struct CryptHashTraits {
  using Handle = HCRYPTHASH;
  static constexpr Handle invalid() { return 0; }
  static void close(Handle hash) { ::CryptDestroyHash(hash); }
};

// The failing call and the system's text for its error, taken at once.
bool fail(const char* call, DigestError& error) {
  const DWORD code = ::GetLastError();
  error.call = call;
  error.text = windows::formatSystemMessage(code);
  return false;
}

// The crypto service takes 32-bit lengths.
constexpr std::size_t kLargestChunk = 1u << 30;

}  // namespace

// The hash object is declared after its provider, so it is destroyed first.
struct Md5::State {
  UniqueHandle<CryptProviderTraits> provider;
  UniqueHandle<CryptHashTraits> hash;
};

Md5::Md5() : state(std::make_unique<State>()) {}
Md5::~Md5() = default;

bool Md5::Start(DigestError& error) {
  state->hash.reset();
  if (!state->provider) {
    // A context for hashing only: no key container, nothing persisted.
    HCRYPTPROV provider = 0;
    if (!::CryptAcquireContextA(&provider, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT)) {
      return fail("CryptAcquireContext", error);
    }
    state->provider.reset(provider);
  }
  HCRYPTHASH hash = 0;
  if (!::CryptCreateHash(state->provider.get(), CALG_MD5, 0, 0, &hash)) {
    return fail("CryptCreateHash", error);
  }
  state->hash.reset(hash);
  return true;
}

bool Md5::Update(const void* data, std::size_t size, DigestError& error) {
  if (!state->hash) {
    ::SetLastError(ERROR_INVALID_HANDLE);
    return fail("CryptHashData", error);
  }
  const auto* bytes = static_cast<const BYTE*>(data);
  do {
    const std::size_t chunk = std::min(size, kLargestChunk);
    if (!::CryptHashData(state->hash.get(), bytes, static_cast<DWORD>(chunk), 0)) {
      return fail("CryptHashData", error);
    }
    bytes += chunk;
    size -= chunk;
  } while (size > 0);
  return true;
}

bool Md5::Finish(Md5Digest& digest, DigestError& error) {
  if (!state->hash) {
    ::SetLastError(ERROR_INVALID_HANDLE);
    return fail("CryptGetHashParam", error);
  }
  BYTE value[16] = {};
  DWORD length = sizeof value;
  if (!::CryptGetHashParam(state->hash.get(), HP_HASHVAL, value, &length, 0)) {
    return fail("CryptGetHashParam", error);
  }
  if (length != digest.size()) {
    ::SetLastError(static_cast<DWORD>(NTE_BAD_LEN));
    return fail("CryptGetHashParam", error);
  }
  std::copy(value, value + digest.size(), digest.begin());
  return true;
}

}  // namespace RazaDedeZuzev::platform
