#pragma once

// One zip archive, read through the 7-Zip engine: its entries, lookups by
// name, and the first bytes of an entry. The engine's types stay behind this
// class; callers see ZipEntry records only.

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace RazaDedeZuzev {

struct ZipEntry {
  std::string name;  // UTF-8, `/` separators; directories end in `/`
  std::uint64_t packedSize = 0;
  std::uint64_t size = 0;
  bool isEncrypted = false;
  bool isHidden = false;
  std::uint64_t index = 0;  // the engine's item index
};

struct ZipArchiveState;

class ZipArchive {
 public:
  // Binds the engine library; a library that cannot be used shows only when
  // SetZipFilePath fails.
  ZipArchive();
  ZipArchive(const ZipArchive&) = delete;
  ZipArchive& operator=(const ZipArchive&) = delete;
  virtual ~ZipArchive();

  // Opens the archive file for the engine. On failure the message written
  // carries no line end: the caller completes the line. Calling it again
  // replaces the file and forgets the entries looked up so far.
  bool SetZipFilePath(const std::u16string& path);

  // Appends one record per item, in item order. False when the engine gives
  // a property in a form it does not promise; the records so far remain.
  bool GetZipEntryList(std::vector<ZipEntry>& list);

  // The entry of exactly this name (the last one, when names repeat). The
  // entry list is read once and kept for every later lookup.
  bool GetZipEntry(const std::string& name, ZipEntry& entry);

  // Extracts the start of an entry into `buffer`: up to `capacity` bytes,
  // their number in `byteCount`. The engine is stopped once the buffer is
  // full, so a large entry is never decompressed whole.
  bool GetZipContentData(std::uint64_t index, void* buffer, std::size_t capacity,
                         std::uint64_t& byteCount);

 private:
  friend class ZipFileCopyCommand;

  std::unique_ptr<ZipArchiveState> state;
  std::map<std::string, ZipEntry> entriesByName;
};

}  // namespace RazaDedeZuzev
