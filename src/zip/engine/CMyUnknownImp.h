#pragma once

// Reference counting for the objects this program hands to the 7-Zip engine.
// An object starts at count 0; the ComPtr that creates it takes the first
// reference, and the last Release destroys it. The counts are plain
// integers: the engine calls back on the thread that called it.

#include "zip/engine/SevenZipInterfaces.h"

namespace RazaDedeZuzev::SevenZipArchiveImpl {

class CMyUnknownImp {
 public:
  CMyUnknownImp() = default;
  CMyUnknownImp(const CMyUnknownImp&) = delete;
  CMyUnknownImp& operator=(const CMyUnknownImp&) = delete;

 protected:
  virtual ~CMyUnknownImp() = default;

  ULONG addReference() { return ++referenceCount; }

  ULONG releaseReference() {
    if (--referenceCount != 0) return referenceCount;
    delete this;
    return 0;
  }

 private:
  ULONG referenceCount = 0;
};

}  // namespace RazaDedeZuzev::SevenZipArchiveImpl
