#pragma once

// The engine side of one ZipArchive: the library, the engine's archive
// object and the stream it reads. Private to src/zip/.

#include <cstdint>

#include "zip/engine/ComPtr.h"
#include "zip/engine/FileInStream.h"
#include "zip/engine/SevenZipEngine.h"
#include "zip/engine/SevenZipInterfaces.h"

namespace RazaDedeZuzev {

struct ZipArchiveState {
  static constexpr std::uint32_t kNoSelection = 0xFFFFFFFF;

  SevenZipArchiveImpl::SevenZipEngine engine;
  // Declared in the order of their release, last first: the archive object
  // before the stream it reads.
  SevenZipArchiveImpl::ComPtr<SevenZipArchiveImpl::FileInStream> inStream;
  SevenZipArchiveImpl::ComPtr<SevenZipArchiveImpl::IInArchive> inArchive;
  std::uint32_t selectedIndex = kNoSelection;  // what the next extraction reads
};

// Runs one extraction of the selected item into `stream`, with a fresh
// callback; returns the engine's result, and its verdict on the item's data
// in `operationResult` (0: whole and correct). The stream's messages and the
// verdict's message are written on the way.
SevenZipArchiveImpl::HRESULT extractSelectedItem(
    ZipArchiveState& state, SevenZipArchiveImpl::ComPtr<SevenZipArchiveImpl::ISequentialOutStream> stream,
    std::int32_t& operationResult);

}  // namespace RazaDedeZuzev
