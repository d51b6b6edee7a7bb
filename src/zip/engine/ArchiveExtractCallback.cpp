#include "zip/engine/ArchiveExtractCallback.h"

#include "base/Logger.h"

namespace RazaDedeZuzev::SevenZipArchiveImpl {

HRESULT ArchiveExtractCallback::QueryInterface(const GUID& iid, void** object) {
  *object = nullptr;
  if (!(iid == IID_IUnknown || iid == IID_ICryptoGetTextPassword)) return E_NOINTERFACE;
  *object = ComPtr<ICryptoGetTextPassword>::share(this).handOver();
  return S_OK;
}

HRESULT ArchiveExtractCallback::GetStream(std::uint32_t, ISequentialOutStream** stream,
                                          std::int32_t askExtractMode) {
  if (askExtractMode != kAskModeExtract) return S_OK;
  // The engine releases the stream when the item is done.
  *stream = outStream.handOver();
  return S_OK;
}

void reportItemVerdict(std::int32_t verdict) {
  switch (verdict) {
    case kOperationOk:
      break;
    case kOperationUnsupportedMethod:
      Logger::GetInstance() << "extract failed: unsupported method\n";
      break;
    case kOperationDataError:
      Logger::GetInstance() << "extract failed: data error\n";
      break;
    case kOperationCrcError:
      Logger::GetInstance() << "extract failed: CRC error\n";
      break;
    default:
      Logger::GetInstance() << "extract failed: unknown error\n";
      break;
  }
}

HRESULT ArchiveExtractCallback::SetOperationResult(std::int32_t result) {
  if (operationResult != nullptr) *operationResult = result;
  reportItemVerdict(result);
  return S_OK;
}

HRESULT ArchiveExtractCallback::CryptoGetTextPassword(BSTR* password) {
  // No password is ever known, and encrypted items are not handed to the
  // engine (see extractSelectedItem). Should it ask all the same, it gets
  // none: tried with an empty one, a ZipCrypto item passes the check one
  // time in 256 and yields bytes that are not its content.
  if (password != nullptr) *password = nullptr;
  return E_ABORT;
}

}  // namespace RazaDedeZuzev::SevenZipArchiveImpl
