#pragma once

// The two places an extracted item's bytes go: a fixed buffer (the first
// bytes of an entry) and an open file (a whole entry, hashed on the way).
// Private to src/zip/.

#include <cstddef>
#include <cstdint>
#include <functional>

#include "zip/engine/CMyUnknownImp.h"

namespace RazaDedeZuzev::SevenZipArchiveImpl {

// Takes bytes until the buffer is full, then stops the engine with E_ABORT:
// the engine retries for ever when a stream accepts nothing and reports
// success, and aborting also spares it decompressing the rest of the item.
class SequentialOutStreamBufferWriter : public ISequentialOutStream, public CMyUnknownImp {
 public:
  // `byteCount` receives the number of bytes accepted, added as they come.
  SequentialOutStreamBufferWriter(void* buffer, std::size_t capacity, std::uint64_t* byteCount)
      : remaining(capacity), cursor(static_cast<unsigned char*>(buffer)), byteCount(byteCount) {}

  HRESULT SEVENZIP_CALL QueryInterface(const GUID& iid, void** object) override;
  ULONG SEVENZIP_CALL AddRef() override { return addReference(); }
  ULONG SEVENZIP_CALL Release() override { return releaseReference(); }
  HRESULT SEVENZIP_CALL Write(const void* data, std::uint32_t size,
                              std::uint32_t* processedSize) override;

  // True once the stream has refused bytes because the buffer was full: an
  // E_ABORT from the engine is then this stream's own stop.
  bool StoppedWhenFull() const { return stoppedWhenFull; }

 protected:
  ~SequentialOutStreamBufferWriter() override = default;

 private:
  std::size_t remaining;
  unsigned char* cursor;
  std::uint64_t* byteCount;
  bool stoppedWhenFull = false;
};

// Hands every chunk the engine delivers to the copy that consumes it (which
// hashes and writes it). Owns nothing.
class SequentialOutStreamFileWriter : public ISequentialOutStream, public CMyUnknownImp {
 public:
  // Takes one chunk; false after the messages that say why it could not.
  using ConsumeFunction = std::function<bool(const void* data, std::size_t size)>;

  explicit SequentialOutStreamFileWriter(ConsumeFunction consume) : consume(std::move(consume)) {}

  HRESULT SEVENZIP_CALL QueryInterface(const GUID& iid, void** object) override;
  ULONG SEVENZIP_CALL AddRef() override { return addReference(); }
  ULONG SEVENZIP_CALL Release() override { return releaseReference(); }
  HRESULT SEVENZIP_CALL Write(const void* data, std::uint32_t size,
                              std::uint32_t* processedSize) override;

 protected:
  ~SequentialOutStreamFileWriter() override = default;

 private:
  ConsumeFunction consume;
};

}  // namespace RazaDedeZuzev::SevenZipArchiveImpl
