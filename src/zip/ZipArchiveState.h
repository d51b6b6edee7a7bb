#pragma once

// The engine side of one ZipArchive: the library, the engine's archive
// object and the stream it reads. Private to src/zip/.

#include <cstdint>

#include "zip/FileInStream.h"
#include "zip/SevenZipEngine.h"
#include "zip/SevenZipInterfaces.h"

namespace RazaDedeZuzev {

struct ZipArchiveState {
  static constexpr std::uint32_t kNoSelection = 0xFFFFFFFF;

  SevenZipArchiveImpl::SevenZipEngine engine;
  SevenZipArchiveImpl::FileInStream* inStream = nullptr;   // one counted reference
  SevenZipArchiveImpl::IInArchive* inArchive = nullptr;    // one counted reference
  std::uint32_t selectedIndex = kNoSelection;              // what the next extraction reads

  ZipArchiveState() = default;
  ZipArchiveState(const ZipArchiveState&) = delete;
  ZipArchiveState& operator=(const ZipArchiveState&) = delete;
  ~ZipArchiveState() {
    SevenZipArchiveImpl::releaseAndClear(inArchive);
    SevenZipArchiveImpl::releaseAndClear(inStream);
  }
};

// Runs one extraction of the selected item into `stream`, with a fresh
// callback; returns the engine's result. The stream's messages and the
// operation result's message are written on the way.
SevenZipArchiveImpl::HRESULT extractSelectedItem(ZipArchiveState& state,
                                                 SevenZipArchiveImpl::ISequentialOutStream* stream);

}  // namespace RazaDedeZuzev
