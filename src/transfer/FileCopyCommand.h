#pragma once

// Copy commands: one object per copied file. A command owns a 65,536-byte
// page-aligned transfer buffer and, on request, an MD5 digest of the bytes
// that pass through it. Two rules hold for every command:
//  - an existing destination is never opened for writing or changed, yet the
//    whole source is still read and hashed and the copy counts as a success;
//  - the destination's directory is created, with its parents, right before
//    the destination is opened.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/File.h"
#include "transfer/Digest.h"

namespace RazaDedeZuzev {

class AbstractFileCopyCommand {
 public:
  static constexpr std::size_t kCopyBufferSize = 65536;

  AbstractFileCopyCommand();
  AbstractFileCopyCommand(const AbstractFileCopyCommand&) = delete;
  AbstractFileCopyCommand& operator=(const AbstractFileCopyCommand&) = delete;
  virtual ~AbstractFileCopyCommand();

  // Switches hashing on; called before any byte moves. False after a message.
  bool EnableHashCalculation();
  // The 32 lowercase hex digits of the digest, or empty after a message.
  std::string GetCalculatedHash();

  // Creates the destination (never replacing an existing file) and moves
  // every byte of the source into it.
  bool CopyToFile(std::u16string_view destination);

  // Like CopyToFile, for a file of the resource store: the bytes go into a
  // temporary file in the destination's directory, which gets the final name
  // only once it is complete. An existing file always wins, whether it was
  // there before or another process published it while this one wrote: it is
  // left untouched, the source is still read and hashed, and the copy counts
  // as a success. A process killed at any moment leaves either no file under
  // the name or a complete one.
  bool CopyToStoredFile(std::u16string_view destination);

  std::uint64_t GetSourceSize() const { return sourceSize; }

 protected:
  // Moves exactly the source's bytes in stream order: for every chunk, the
  // hash first (when enabled), then the write (when writeEnabled; otherwise
  // `handle` is kInvalidFileHandle and must not be used).
  virtual bool WriteToHandle(platform::FileHandle handle) = 0;

  // Feeds one chunk to the digest when hashing is on; false after a message.
  bool HashChunk(const void* data, std::size_t size);

 private:
  // False, after a message, when the copy buffer could not be allocated.
  bool HasCopyBuffer() const;
  // Runs the transfer with nothing written: the destination exists already.
  bool TransferWithoutWriting();

 protected:

  bool hashEnabled = false;
  bool writeEnabled = true;
  Digest hash;
  unsigned char* copyBuffer = nullptr;
  std::uint64_t sourceSize = 0;
};

class FileCopyCommand : public AbstractFileCopyCommand {
 public:
  FileCopyCommand() = default;
  ~FileCopyCommand() override = default;

  // Opens the source and learns its size; called once, before CopyToFile.
  bool SetSourceFilePath(std::u16string_view path);

 protected:
  bool WriteToHandle(platform::FileHandle handle) override;
  // Reads the next chunk of the source into copyBuffer, never more than the
  // bytes of sourceSize still missing; 0 bytes means the source ended.
  virtual bool SetSourceDataToBuffer(std::uint32_t& bytesRead);

 private:
  platform::UniqueFile source;
  std::uint64_t bytesReadFromSource = 0;
};

}  // namespace RazaDedeZuzev
