#pragma once

// What the engine talks to during one extraction: it hands the engine the
// output stream for the item, refuses the password question, and reports a
// damaged or unreadable item.

#include "zip/engine/CMyUnknownImp.h"
#include "zip/engine/ComPtr.h"

namespace RazaDedeZuzev::SevenZipArchiveImpl {

// Writes the message for an item's verdict (nothing for success).
void reportItemVerdict(std::int32_t verdict);

class ArchiveExtractCallback : public IArchiveExtractCallback,
                               public ICryptoGetTextPassword,
                               public CMyUnknownImp {
 public:
  // Holds a reference on the stream, which moves to the engine when it asks.
  // The engine's verdict on the item goes to `operationResult`, when given.
  ArchiveExtractCallback(ComPtr<ISequentialOutStream> stream, std::int32_t* operationResult)
      : outStream(std::move(stream)), operationResult(operationResult) {}

  HRESULT SEVENZIP_CALL QueryInterface(const GUID& iid, void** object) override;
  ULONG SEVENZIP_CALL AddRef() override { return addReference(); }
  ULONG SEVENZIP_CALL Release() override { return releaseReference(); }

  HRESULT SEVENZIP_CALL SetTotal(std::uint64_t) override { return S_OK; }
  HRESULT SEVENZIP_CALL SetCompleted(const std::uint64_t*) override { return S_OK; }
  HRESULT SEVENZIP_CALL GetStream(std::uint32_t index, ISequentialOutStream** outStream,
                                  std::int32_t askExtractMode) override;
  HRESULT SEVENZIP_CALL PrepareOperation(std::int32_t) override { return S_OK; }
  HRESULT SEVENZIP_CALL SetOperationResult(std::int32_t result) override;

  HRESULT SEVENZIP_CALL CryptoGetTextPassword(BSTR* password) override;

 protected:
  ~ArchiveExtractCallback() override = default;

 private:
  ComPtr<ISequentialOutStream> outStream;  // empty once the engine has it
  std::int32_t* operationResult;
};

}  // namespace RazaDedeZuzev::SevenZipArchiveImpl
