#pragma once

// The callback handed to the engine while it opens an archive. It reports
// nothing and offers no other volumes: an archive whose directory claims to
// span several disks is read as the one file it is. The engine's zip reader
// asks this callback for volumes without checking that one was given, so a
// callback must always be passed, never a null pointer.

#include "zip/engine/CMyUnknownImp.h"

namespace RazaDedeZuzev::SevenZipArchiveImpl {

class ArchiveOpenCallback : public IArchiveOpenCallback, public CMyUnknownImp {
 public:
  HRESULT SEVENZIP_CALL QueryInterface(const GUID& iid, void** object) override;
  ULONG SEVENZIP_CALL AddRef() override { return addReference(); }
  ULONG SEVENZIP_CALL Release() override { return releaseReference(); }
  HRESULT SEVENZIP_CALL SetTotal(const std::uint64_t*, const std::uint64_t*) override { return S_OK; }
  HRESULT SEVENZIP_CALL SetCompleted(const std::uint64_t*, const std::uint64_t*) override {
    return S_OK;
  }

 protected:
  ~ArchiveOpenCallback() override = default;
};

}  // namespace RazaDedeZuzev::SevenZipArchiveImpl
