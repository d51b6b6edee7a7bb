#pragma once

// One zip archive, read through the 7-Zip engine: its entries, lookups by
// name, and the first bytes of an entry. The engine's types stay behind this
// class; callers see ZipEntry records only.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace RazaDedeZuzev {

namespace platform {
class CodePageDecoder;
}

struct ZipEntry {
  std::string name;  // UTF-8, `/` separators (zip/EntryNames.h); directories end in `/`
  std::uint64_t packedSize = 0;
  std::uint64_t size = 0;
  bool isEncrypted = false;
  bool isHidden = false;
  bool isDirectory = false;  // by the engine's mark, whatever the name ends in
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

  // How many items the engine found; 0 before the archive is open.
  std::uint64_t EntryCount() const;

  // Hands one record per item to `visit`, in item order, until `visit`
  // answers false. False when the engine gives a property in a form it does
  // not promise.
  bool ForEachEntry(const std::function<bool(const ZipEntry&)>& visit);

  // Appends one record per item, in item order; false as ForEachEntry, the
  // records so far remaining.
  bool GetZipEntryList(std::vector<ZipEntry>& list);

  // The entry of exactly this name (the last one, when names repeat). The
  // first lookup indexes the items by a hash of their names; each lookup
  // then reads again only the items whose names hash alike.
  bool GetZipEntry(const std::string& name, ZipEntry& entry);

  // Extracts the start of an entry into `buffer`: up to `capacity` bytes,
  // their number in `byteCount`. The engine is stopped once the buffer is
  // full, so a large entry is never decompressed whole.
  bool GetZipContentData(std::uint64_t index, void* buffer, std::size_t capacity,
                         std::uint64_t& byteCount);

 private:
  friend class ZipFileCopyCommand;

  bool readEntry(std::uint32_t index, ZipEntry& entry);
  void indexEntries();

  std::unique_ptr<ZipArchiveState> state;
  std::unique_ptr<platform::CodePageDecoder> legacyNames;
  // (hash of the name, item index), sorted: 16 bytes an item, where a map
  // of the records would hold every name.
  std::vector<std::pair<std::uint64_t, std::uint32_t>> itemsByNameHash;
  bool indexed = false;
};

}  // namespace RazaDedeZuzev
