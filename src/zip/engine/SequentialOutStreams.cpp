#include "zip/engine/SequentialOutStreams.h"

#include <algorithm>
#include <cstring>

#include "zip/engine/ComPtr.h"

namespace RazaDedeZuzev::SevenZipArchiveImpl {
namespace {

// The output streams answer IUnknown only.
HRESULT queryUnknownOnly(ISequentialOutStream* self, const GUID& iid, void** object) {
  *object = nullptr;
  if (!(iid == IID_IUnknown)) return E_NOINTERFACE;
  *object = ComPtr<ISequentialOutStream>::share(self).handOver();
  return S_OK;
}

}  // namespace

HRESULT SequentialOutStreamBufferWriter::QueryInterface(const GUID& iid, void** object) {
  return queryUnknownOnly(this, iid, object);
}

HRESULT SequentialOutStreamBufferWriter::Write(const void* data, std::uint32_t size,
                                               std::uint32_t* processedSize) {
  const std::size_t accepted = std::min<std::size_t>(size, remaining);
  if (accepted > 0) std::memcpy(cursor, data, accepted);
  cursor += accepted;
  remaining -= accepted;
  *byteCount += accepted;
  if (processedSize != nullptr) *processedSize = static_cast<std::uint32_t>(accepted);
  if (accepted == size) return S_OK;
  stoppedWhenFull = true;
  return E_ABORT;
}

HRESULT SequentialOutStreamFileWriter::QueryInterface(const GUID& iid, void** object) {
  return queryUnknownOnly(this, iid, object);
}

HRESULT SequentialOutStreamFileWriter::Write(const void* data, std::uint32_t size,
                                             std::uint32_t* processedSize) {
  if (processedSize != nullptr) *processedSize = 0;
  if (!consume(data, size)) return E_FAIL;
  if (processedSize != nullptr) *processedSize = size;
  return S_OK;
}

}  // namespace RazaDedeZuzev::SevenZipArchiveImpl
