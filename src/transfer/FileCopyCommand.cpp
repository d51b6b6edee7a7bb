#include "transfer/FileCopyCommand.h"

#include <algorithm>
#include <utility>

#include "base/Logger.h"
#include "base/PathUtil.h"
#include "base/TextEncoding.h"
#include "platform/FileSystem.h"

namespace RazaDedeZuzev {
namespace {

void reportOpenFailure(std::u16string_view path, const std::error_code& error) {
  Logger::GetInstance() << "failed to open file: " << toUtf8(path) << ": " << GetLastErrorMessage(error)
                        << "\n";
}

bool namesMissingDirectory(const std::error_code& error) {
  return error == std::errc::no_such_file_or_directory || error == std::errc::not_a_directory;
}

}  // namespace

AbstractFileCopyCommand::~AbstractFileCopyCommand() {
  if (gathering != nullptr) DigestPipeline::Get().Release(gathering);
}

bool AbstractFileCopyCommand::EnableHashCalculation() {
  digest = DigestPipeline::Get().Start();
  return digest != nullptr;
}

void AbstractFileCopyCommand::finishDigest() {
  if (digestFinished) return;
  DigestPipeline& pipeline = DigestPipeline::Get();
  if (gathering != nullptr) {
    pipeline.SubmitLast(digest, std::exchange(gathering, nullptr), std::exchange(gathered, 0));
  } else {
    pipeline.Finish(digest);
  }
  digestFinished = true;
}

bool AbstractFileCopyCommand::CopyToPendingFile(const CopyDestination& destination, PendingFile& copy) {
  copy.destination = destination.path;
  copy.parentsWithNewNames = destination.parentsWithNewNames;
  // A file stored before costs no writing at all; one that appears while
  // this copy runs is caught when the name is given.
  platform::FileStatus status;
  platform::FileHandle target = platform::kInvalidFileHandle;
  if (platform::getNameStatus(destination.path, status) || status.type == platform::FileType::Missing) {
    std::error_code error = platform::createTemporaryFile(destination.directory, kTemporaryNamePrefix, copy.file);
    if (namesMissingDirectory(error)) {
      createDirectoryRecursively(destination.directory, &copy.parentsWithNewNames);
      error = platform::createTemporaryFile(destination.directory, kTemporaryNamePrefix, copy.file);
    }
    if (error) {
      reportOpenFailure(destination.path, error);
      return false;
    }
    target = copy.file.file.get();
    copy.sweepDirectory = !copy.file.temporaryPath.empty() && copy.parentsWithNewNames == 0;
  } else if (status.type != platform::FileType::RegularFile) {
    Logger::GetInstance() << "destination is not a regular file: " << asUtf8(destination.path) << "\n";
    return false;
  } else {
    // A second name may be a temporary one that a run killed after the
    // link kept.
    copy.sweepDirectory = status.links > 1;
  }
  writer = FileWriter(target);
  if (!WriteToHandle(target)) {
    // The pipeline may still hold writes to the file the caller closes.
    if (hashEnabled()) {
      finishDigest();
      digest->WaitUntilDone();
    }
    return false;
  }
  if (hashEnabled()) {
    finishDigest();
    copy.digest = digest;
  }
  return true;
}

bool AbstractFileCopyCommand::WriteChunk(const void* data, std::size_t size, const char* failurePrefix) {
  std::error_code error;
  if (writer.Write(data, size, error)) return true;
  Logger::GetInstance() << writeFailureMessage(failurePrefix, error);
  return false;
}

void AbstractFileCopyCommand::WriteInPipeline(platform::FileHandle file, std::string followingFailure) {
  digest->WriteTo(file, std::move(followingFailure));
}

void AbstractFileCopyCommand::HashLastChunk(unsigned char* buffer, std::size_t size) {
  DigestPipeline::Get().SubmitLast(digest, buffer, size);
  digestFinished = true;
}

bool AbstractFileCopyCommand::SettleWrites() {
  finishDigest();
  const std::string failure = digest->WaitForWrites();
  if (failure.empty()) return true;
  Logger::GetInstance() << failure;
  return false;
}

bool AbstractFileCopyCommand::HashTransientChunk(const void* data, std::size_t size) {
  DigestPipeline& pipeline = DigestPipeline::Get();
  for (const auto* bytes = static_cast<const unsigned char*>(data); size > 0;) {
    if (gathering == nullptr && (gathering = pipeline.Acquire()) == nullptr) {
      Logger::GetInstance() << "failed to allocate the copy buffer\n";
      return false;
    }
    const std::size_t piece = std::min(size, DigestPipeline::kBufferSize - gathered);
    std::copy(bytes, bytes + piece, gathering + gathered);
    gathered += piece;
    bytes += piece;
    size -= piece;
    if (gathered == DigestPipeline::kBufferSize) {
      pipeline.Submit(digest, std::exchange(gathering, nullptr), std::exchange(gathered, 0));
    }
  }
  return true;
}

bool FileCopyCommand::SetSourceFilePath(std::u16string_view path) {
  if (source) {
    Logger::GetInstance() << "source file already defined\n";
    return false;
  }
  if (const std::error_code error = platform::openFileForRead(path, source, &sourceSize)) {
    reportOpenFailure(path, error);
    return false;
  }
  return true;
}

bool FileCopyCommand::SetSourceDataToBuffer(unsigned char* buffer, std::size_t capacity,
                                            std::size_t& bytesRead) {
  // Never past sourceSize: a source that grew while it was copied still
  // yields exactly the bytes whose count the caller reports.
  const std::size_t wanted =
      static_cast<std::size_t>(std::min<std::uint64_t>(capacity, sourceSize - bytesReadFromSource));
  if (const std::error_code error = platform::readFile(source.get(), buffer, wanted, bytesRead)) {
    Logger::GetInstance() << "ReadFile failed" << GetLastErrorMessage(error) << "\n";
    return false;
  }
  bytesReadFromSource += bytesRead;
  return true;
}

bool FileCopyCommand::WriteToHandle(platform::FileHandle file) {
  std::uint64_t moved = 0;
  // Without a digest the bytes need not pass through the program: the
  // kernel copies them (or the file system shares them). Whatever it cannot
  // do, the buffers do, and they tell precisely what failed.
  if (!hashEnabled() && file != platform::kInvalidFileHandle && copyInKernel(file, moved)) return true;
  return copyThroughBuffers(file, moved);
}

// True when the kernel copied everything; otherwise `moved` bytes are done.
bool FileCopyCommand::copyInKernel(platform::FileHandle file, std::uint64_t& moved) {
  while (moved < sourceSize) {
    std::uint64_t copied = 0;
    if (platform::copyFileRange(source.get(), file, sourceSize - moved, copied) || copied == 0) {
      bytesReadFromSource = moved;
      return false;
    }
    moved += copied;
  }
  bytesReadFromSource = moved;
  return true;
}

bool FileCopyCommand::copyThroughBuffers(platform::FileHandle file, std::uint64_t moved) {
  Logger& logger = Logger::GetInstance();
  DigestPipeline& pipeline = DigestPipeline::Get();
  while (moved != sourceSize) {
    // The pipeline's buffers: a chunk to hash stays in its buffer until it
    // is hashed, and the next chunk waits for a free one.
    unsigned char* buffer = pipeline.Acquire();
    if (buffer == nullptr) {
      logger << "failed to allocate the copy buffer\n";
      return false;
    }
    std::size_t bytesRead = 0;
    const bool read = SetSourceDataToBuffer(buffer, DigestPipeline::kBufferSize, bytesRead);
    const bool written = read && bytesRead > 0 &&
                         (file == platform::kInvalidFileHandle || WriteChunk(buffer, bytesRead, "WriteFile failed:"));
    if (!written) {
      pipeline.Release(buffer);
      if (!read) logger << "SetSourceDataToBuffer failed\n";
      // The source shrank after its size was taken: the copy cannot be whole.
      if (read && bytesRead == 0) logger << "source file ended after " << moved << " of " << sourceSize << " bytes\n";
      return false;
    }
    moved += bytesRead;
    if (hashEnabled() && moved == sourceSize) {
      HashLastChunk(buffer, bytesRead);
    } else if (hashEnabled()) {
      pipeline.Submit(digest, buffer, bytesRead);
    } else {
      pipeline.Release(buffer);
    }
  }
  return true;
}

}  // namespace RazaDedeZuzev
