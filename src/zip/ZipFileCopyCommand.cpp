#include "zip/ZipFileCopyCommand.h"

#include "base/Logger.h"
#include "zip/engine/SequentialOutStreams.h"
#include "zip/engine/ZipArchiveState.h"

namespace RazaDedeZuzev {

using namespace SevenZipArchiveImpl;

namespace {
constexpr const char* kExtractFailed = "extract failed\n";
}

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
  // Decompressing is the heavier work here: the digest pipeline writes the
  // file as well as hashing it, and this thread only decompresses.
  const bool writesInPipeline = hashEnabled() && file != platform::kInvalidFileHandle;
  // A write that fails stops the engine: the extraction has failed too,
  // whichever thread finds it.
  if (writesInPipeline) WriteInPipeline(file, kExtractFailed);
  std::uint64_t moved = 0;
  const auto consume = [&](const void* data, std::size_t size) {
    if (writesInPipeline && digest->WriteFailed()) return false;
    if (hashEnabled() && !HashTransientChunk(data, size)) return false;
    if (!writesInPipeline && file != platform::kInvalidFileHandle &&
        !WriteChunk(data, size, "WriteFile failed: ")) {
      return false;
    }
    moved += size;
    return true;
  };
  std::int32_t verdict = kOperationOk;
  const HRESULT result =
      extractSelectedItem(archiveState, makeEngineObject<SequentialOutStreamFileWriter>(consume), verdict);
  const bool whole = result == S_OK && verdict == kOperationOk && moved == sourceSize;
  // A failed write stopped the engine: it is the reason to tell, with the
  // failed extraction. A copy that succeeded learns of its writes when it
  // is published.
  if (!whole && writesInPipeline && !SettleWrites()) return false;
  if (result != S_OK) {
    Logger::GetInstance() << kExtractFailed;
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
