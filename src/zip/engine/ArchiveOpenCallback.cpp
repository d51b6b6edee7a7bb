#include "zip/engine/ArchiveOpenCallback.h"

#include "zip/engine/ComPtr.h"

namespace RazaDedeZuzev::SevenZipArchiveImpl {

HRESULT ArchiveOpenCallback::QueryInterface(const GUID& iid, void** object) {
  *object = nullptr;
  if (!(iid == IID_IUnknown || iid == IID_IArchiveOpenCallback)) return E_NOINTERFACE;
  *object = ComPtr<IArchiveOpenCallback>::share(this).handOver();
  return S_OK;
}

}  // namespace RazaDedeZuzev::SevenZipArchiveImpl
