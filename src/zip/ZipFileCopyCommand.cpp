#include "zip/ZipFileCopyCommand.h"

#include "base/Logger.h"
#include "zip/engine/SequentialOutStreams.h"
#include "zip/engine/ZipArchiveState.h"

namespace RazaDedeZuzev {

using namespace SevenZipArchiveImpl;

ZipFileCopyCommand::ZipFileCopyCommand(ZipArchive& archive)
    : archive(archive), archiveState(*archive.state) {}

bool ZipFileCopyCommand::SetZipEntryName(const std::string& name) {
  ZipEntry entry;
  if (!archive.GetZipEntry(name, entry)) return false;
  sourceSize = entry.size;
  archiveState.selectedIndex = static_cast<std::uint32_t>(entry.index);
  return true;
}

bool ZipFileCopyCommand::WriteToHandle(platform::FileHandle handle) {
  if (!archiveState.inArchive) return false;
  SequentialOutStreamFileWriter::HashChunkFunction hashChunk;
  if (hashEnabled) {
    hashChunk = [this](const void* data, std::size_t size) { return HashChunk(data, size); };
  }
  const HRESULT result = extractSelectedItem(
      archiveState,
      makeEngineObject<SequentialOutStreamFileWriter>(writeEnabled, handle, std::move(hashChunk)));
  if (result != S_OK) {
    Logger::GetInstance() << "extract failed\n";
    return false;
  }
  return true;
}

}  // namespace RazaDedeZuzev
