#pragma once

// The archive file as the engine reads it: a seekable input stream over one
// open file.

#include <string>

#include "platform/File.h"
#include "zip/engine/CMyUnknownImp.h"

namespace RazaDedeZuzev::SevenZipArchiveImpl {

class FileInStream : public IInStream, public CMyUnknownImp {
 public:
  // The largest piece handed to the system in one read, however much the
  // engine asks for.
  static constexpr std::uint32_t kMaxReadChunk = 0x100000;

  explicit FileInStream(std::u16string path) : path(std::move(path)) {}

  // Opens the file for reading; false after a system error report.
  bool OpenFile();

  // Answers each read with at most `size` bytes (the interface allows a
  // short answer, and the engine asks again when it needs more), or, with
  // 0, with all it asks for. The engine asks for a whole entry's packed
  // data at once; a reader that wants only the start of an entry need not
  // read the rest.
  void SetLargestAnswer(std::uint32_t size) { largestAnswer = size; }

  HRESULT SEVENZIP_CALL QueryInterface(const GUID& iid, void** object) override;
  ULONG SEVENZIP_CALL AddRef() override { return addReference(); }
  ULONG SEVENZIP_CALL Release() override { return releaseReference(); }
  HRESULT SEVENZIP_CALL Read(void* data, std::uint32_t size, std::uint32_t* processedSize) override;
  HRESULT SEVENZIP_CALL Seek(std::int64_t offset, std::uint32_t seekOrigin,
                             std::uint64_t* newPosition) override;

 protected:
  ~FileInStream() override = default;

 private:
  std::u16string path;
  platform::UniqueFile file;
  std::uint32_t largestAnswer = 0;
};

}  // namespace RazaDedeZuzev::SevenZipArchiveImpl
