#pragma once

// Copy commands: one object per copied file. A command moves the bytes of
// its source into a temporary file beside the destination, hashing them
// with MD5 on request; a Publisher gives the file its name once it is whole
// and durable (transfer/Publisher.h). Two rules hold for every command:
//  - an existing regular file under the destination's name is never opened
//    for writing or changed, yet the whole source is still read and hashed
//    and the copy counts as a success;
//  - the destination's directory is created, with its parents, when it is
//    missing.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include <memory>

#include "platform/File.h"
#include "transfer/DigestPipeline.h"
#include "transfer/FileWriter.h"
#include "transfer/Publisher.h"

namespace RazaDedeZuzev {

// Where a copy goes: the file, and the directory that holds it (created
// with its parents when missing; when it cannot be, the failure to open the
// file tells why).
struct CopyDestination {
  std::u16string_view path;
  std::u16string_view directory;
  // Directories above `directory` in which the record's directories were
  // made (see platform::createDirectories).
  unsigned parentsWithNewNames = 0;
};

class AbstractFileCopyCommand {
 public:
  AbstractFileCopyCommand() = default;
  AbstractFileCopyCommand(const AbstractFileCopyCommand&) = delete;
  AbstractFileCopyCommand& operator=(const AbstractFileCopyCommand&) = delete;
  virtual ~AbstractFileCopyCommand();

  // Switches hashing on; called before any byte moves. False after a message.
  bool EnableHashCalculation();

  // Moves every byte of the source into a new temporary file in the
  // destination's directory, to be published by a Publisher. When a regular
  // file holds the name already, the bytes are read (and hashed) but not
  // written, and `copy` gets no file; anything else under the name fails.
  // With hashing on, `copy` gets the digest, which may still be computed
  // while the next copies run. False after the messages that say why.
  bool CopyToPendingFile(const CopyDestination& destination, PendingFile& copy);

  std::uint64_t GetSourceSize() const { return sourceSize; }

 protected:
  // Moves exactly the source's bytes in stream order: for every chunk, the
  // write, unless `file` is kInvalidFileHandle (the destination exists:
  // nothing is written), and the hash when enabled.
  virtual bool WriteToHandle(platform::FileHandle file) = 0;

  // Writes one chunk whole to the file given to WriteToHandle.
  // `failurePrefix` starts the message of a failed write.
  bool WriteChunk(const void* data, std::size_t size, const char* failurePrefix);
  bool hashEnabled() const { return digest != nullptr; }
  // Hashes bytes that live only for this call (the engine's): they are
  // gathered into a buffer of the digest pipeline first.
  bool HashTransientChunk(const void* data, std::size_t size);
  // Hands the writes of `file` to the digest pipeline too: each gathered
  // chunk is written there, then hashed. Called before the first chunk,
  // with hashing on. A failed write's message is followed by
  // `followingFailure`, wherever the failure is found.
  void WriteInPipeline(platform::FileHandle file, std::string followingFailure);
  // Finishes the digest and waits for the pipeline's writes; false after
  // the message of one that failed.
  bool SettleWrites();
  // Hands the last chunk, in an acquired pipeline buffer, to the digest,
  // and finishes it.
  void HashLastChunk(unsigned char* buffer, std::size_t size);

  std::shared_ptr<PendingDigest> digest;  // when hashing
  std::uint64_t sourceSize = 0;

 private:
  void finishDigest();

  FileWriter writer;  // the destination's temporary file, if one is written
  unsigned char* gathering = nullptr;  // a pipeline buffer being filled
  std::size_t gathered = 0;
  bool digestFinished = false;
};

class FileCopyCommand : public AbstractFileCopyCommand {
 public:
  FileCopyCommand() = default;
  ~FileCopyCommand() override = default;

  // Opens the source and learns its size; called once, before copying.
  bool SetSourceFilePath(std::u16string_view path);

 protected:
  bool WriteToHandle(platform::FileHandle file) override;

 private:
  // Reads the next chunk of the source into `buffer`, never more than the
  // bytes of sourceSize still missing; 0 bytes means the source ended.
  bool SetSourceDataToBuffer(unsigned char* buffer, std::size_t capacity, std::size_t& bytesRead);
  bool copyInKernel(platform::FileHandle file, std::uint64_t& moved);
  bool copyThroughBuffers(platform::FileHandle file, std::uint64_t moved);

  platform::UniqueFile source;
  std::uint64_t bytesReadFromSource = 0;
};

}  // namespace RazaDedeZuzev
