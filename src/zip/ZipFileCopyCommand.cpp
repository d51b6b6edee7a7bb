#include "zip/ZipFileCopyCommand.h"

#include "app/Logger.h"
#include "zip/SequentialOutStreams.h"
#include "zip/ZipArchiveState.h"

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
  if (archiveState.inArchive == nullptr) return false;
  SequentialOutStreamFileWriter::HashChunkFunction hashChunk;
  if (hashEnabled) {
    hashChunk = [this](const void* data, std::size_t size) { return HashChunk(data, size); };
  }
  auto* stream = new SequentialOutStreamFileWriter(writeEnabled, handle, std::move(hashChunk));
  stream->AddRef();
  const HRESULT result = extractSelectedItem(archiveState, stream);
  stream->Release();
  if (result != S_OK) {
    Logger::GetInstance() << "extract failed\n";
    return false;
  }
  return true;
}

}  // namespace RazaDedeZuzev
