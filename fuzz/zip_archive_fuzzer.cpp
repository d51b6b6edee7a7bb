// Arbitrary bytes as a zip archive, read through the real engine: the entry
// list, the first block of every entry, and the extraction of every entry
// into a file with its digest.

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "Scratch.h"
#include "base/Logger.h"
#include "platform/Utf.h"
#include "zip/ZipArchive.h"
#include "transfer/Publisher.h"
#include "zip/ZipFileCopyCommand.h"

namespace {

const std::filesystem::path& scratchDirectory() {
  static const std::filesystem::path path = fuzzing::makeScratchDirectory("zip");
  return path;
}

constexpr std::size_t kMaxEntries = 16;

void extractEverything(RazaDedeZuzev::ZipArchive& archive, const std::filesystem::path& out) {
  std::vector<RazaDedeZuzev::ZipEntry> entries;
  archive.GetZipEntryList(entries);
  for (std::size_t i = 0; i < entries.size() && i < kMaxEntries; ++i) {
    unsigned char firstBlock[16];
    std::uint64_t received = 0;
    archive.GetZipContentData(entries[i].index, firstBlock, sizeof firstBlock, received);
    if (received > sizeof firstBlock) __builtin_trap();  // never past the buffer

    RazaDedeZuzev::ZipFileCopyCommand command(archive);
    if (!command.SetZipEntryName(entries[i].name)) continue;
    if (!command.EnableHashCalculation()) continue;
    const std::u16string destination = RazaDedeZuzev::platform::utf8ToUtf16((out / std::to_string(i)).string());
    RazaDedeZuzev::PendingFile copy;
    RazaDedeZuzev::Publisher publisher(nullptr, 1);
    if (command.CopyToPendingFile({destination, RazaDedeZuzev::platform::utf8ToUtf16(out.string())}, copy)) {
      if (copy.digest->WaitForHex().size() != 32) __builtin_trap();
      publisher.Add(std::move(copy));
      publisher.Flush();
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  ::setenv("NUV_RAZADEDEZUZEV_SYNC", "0", 1);  // the digests are checked, not durability
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::filesystem::path archivePath = scratchDirectory() / "input.zip";
  const std::filesystem::path out = scratchDirectory() / "out";
  std::FILE* file = std::fopen(archivePath.c_str(), "wb");
  if (file == nullptr) return 0;
  std::fwrite(data, 1, size, file);
  std::fclose(file);

  RazaDedeZuzev::Logger::GetInstance().errorFilePath = u"/dev/null";
  {
    RazaDedeZuzev::AutoCloseLogger quiet;
    RazaDedeZuzev::ZipArchive archive;
    if (archive.SetZipFilePath(RazaDedeZuzev::platform::utf8ToUtf16(archivePath.string()))) {
      extractEverything(archive, out);
    }
  }
  std::error_code ignored;
  std::filesystem::remove_all(out, ignored);
  return 0;
}
