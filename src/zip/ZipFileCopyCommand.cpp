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

bool ZipFileCopyCommand::WriteToHandle(platform::FileHandle file) {
  if (!archiveState.inArchive) return false;
  std::uint64_t moved = 0;
  const auto consume = [&](const void* data, std::size_t size) {
    if (hashEnabled() && !HashTransientChunk(data, size)) return false;
    if (file != platform::kInvalidFileHandle && !WriteChunk(file, data, size, "WriteFile failed: ")) {
      return false;
    }
    moved += size;
    return true;
  };
  std::int32_t verdict = kOperationOk;
  const HRESULT result =
      extractSelectedItem(archiveState, makeEngineObject<SequentialOutStreamFileWriter>(consume), verdict);
  if (result != S_OK) {
    Logger::GetInstance() << "extract failed\n";
    return false;
  }
  // Damaged, truncated or encrypted data is never a copy: the engine's
  // message has said why.
  if (verdict != kOperationOk) return false;
  if (moved != sourceSize) {
    Logger::GetInstance() << "entry ended after " << moved << " of " << sourceSize << " bytes\n";
    return false;
  }
  return true;
}

}  // namespace RazaDedeZuzev
