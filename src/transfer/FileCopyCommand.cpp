#include "transfer/FileCopyCommand.h"

#include <algorithm>

#include "base/Logger.h"
#include "base/PathUtil.h"
#include "base/TextEncoding.h"
#include "platform/FileSystem.h"

namespace RazaDedeZuzev {
namespace {

void reportOpenFailure(std::u16string_view path, const std::error_code& error) {
  Logger::GetInstance() << "failed to open file: " << toUtf8(path) << ": "
                        << GetLastErrorMessage(error) << "\n";
}

// The directory a stored file is published in. A path whose only separator
// is its first character lies in the root directory.
std::u16string directoryOf(std::u16string_view path) {
  std::u16string directory = getParentDirectoryPath(path);
  if (directory.empty() && !path.empty()) return std::u16string(1, path.front());
  return directory;
}

bool nameIsTaken(std::u16string_view path) {
  platform::FileStatus status;
  return !platform::getNameStatus(path, status) && status.type != platform::FileType::Missing;
}

// Owns a temporary file until it is published; drops it otherwise.
struct UnpublishedFile {
  platform::TemporaryFile file;
  UnpublishedFile() = default;
  UnpublishedFile(const UnpublishedFile&) = delete;
  UnpublishedFile& operator=(const UnpublishedFile&) = delete;
  ~UnpublishedFile() { platform::discardTemporaryFile(file); }
};

// Where a temporary file must have a name, it is hidden and tells whose it is.
constexpr std::u16string_view kTemporaryNamePrefix = u".razadedezuzev-";

// A temporary file in `directory`, which is created when it is missing.
std::error_code createTemporaryFileIn(const std::u16string& directory,
                                      platform::TemporaryFile& file) {
  std::error_code error = platform::createTemporaryFile(directory, kTemporaryNamePrefix, file);
  if (error == std::errc::no_such_file_or_directory) {
    createDirectoryRecursively(directory);
    error = platform::createTemporaryFile(directory, kTemporaryNamePrefix, file);
  }
  return error;
}

}  // namespace

AbstractFileCopyCommand::AbstractFileCopyCommand()
    : copyBuffer(static_cast<unsigned char*>(platform::allocatePageAligned(kCopyBufferSize))) {}

AbstractFileCopyCommand::~AbstractFileCopyCommand() {
  if (copyBuffer != nullptr) platform::freePageAligned(copyBuffer, kCopyBufferSize);
  copyBuffer = nullptr;
}

bool AbstractFileCopyCommand::EnableHashCalculation() {
  hashEnabled = true;
  return hash.Start();
}

std::string AbstractFileCopyCommand::GetCalculatedHash() {
  if (!hashEnabled) {
    Logger::GetInstance() << "call EnableHashCalculation beforehand\n";
    return {};
  }
  return hash.FinishAsHex();
}

bool AbstractFileCopyCommand::HashChunk(const void* data, std::size_t size) {
  return !hashEnabled || hash.Update(data, size);
}

bool AbstractFileCopyCommand::HasCopyBuffer() const {
  if (copyBuffer != nullptr) return true;
  Logger::GetInstance() << "failed to allocate the copy buffer\n";
  return false;
}

bool AbstractFileCopyCommand::TransferWithoutWriting() {
  writeEnabled = false;
  return WriteToHandle(platform::kInvalidFileHandle);
}

bool AbstractFileCopyCommand::CopyToFile(std::u16string_view destination) {
  if (!HasCopyBuffer()) return false;
  // A failure here shows up, with its reason, when the file is opened.
  createDirectoryRecursively(getParentDirectoryPath(destination));

  platform::UniqueFile file;
  const std::error_code error = platform::createNewFile(destination, file);
  if (error == std::errc::file_exists) return TransferWithoutWriting();
  if (error) {
    reportOpenFailure(destination, error);
    return false;
  }
  return WriteToHandle(file.get());
}

bool AbstractFileCopyCommand::CopyToStoredFile(std::u16string_view destination) {
  if (!HasCopyBuffer()) return false;
  // Checked first so that a file stored before costs no writing at all; one
  // that appears while this copy runs is caught when the name is given.
  if (nameIsTaken(destination)) return TransferWithoutWriting();

  UnpublishedFile unpublished;
  if (const std::error_code error = createTemporaryFileIn(directoryOf(destination), unpublished.file)) {
    reportOpenFailure(destination, error);
    return false;
  }
  if (!WriteToHandle(unpublished.file.file.get())) return false;

  const std::error_code error = platform::publishTemporaryFile(unpublished.file, destination);
  if (!error || error == std::errc::file_exists) return true;
  Logger::GetInstance() << "failed to link file: " << toUtf8(destination) << ": "
                        << GetLastErrorMessage(error) << "\n";
  return false;
}

bool FileCopyCommand::SetSourceFilePath(std::u16string_view path) {
  if (source) {
    Logger::GetInstance() << "source file already defined\n";
    return false;
  }
  if (const std::error_code error = platform::openFileForRead(path, source)) {
    reportOpenFailure(path, error);
    return false;
  }
  if (const std::error_code error = platform::getFileSize(source.get(), sourceSize)) {
    Logger::GetInstance() << "GetFileSizeEx failed: " << GetLastErrorMessage(error) << "\n";
    return false;
  }
  return true;
}

bool FileCopyCommand::SetSourceDataToBuffer(std::uint32_t& bytesRead) {
  // Never past sourceSize: a source that grew while it was copied still
  // yields exactly the bytes whose count the caller reports.
  const std::size_t wanted = static_cast<std::size_t>(
      std::min<std::uint64_t>(kCopyBufferSize, sourceSize - bytesReadFromSource));
  std::size_t got = 0;
  if (const std::error_code error = platform::readFile(source.get(), copyBuffer, wanted, got)) {
    Logger::GetInstance() << "ReadFile failed" << GetLastErrorMessage(error) << "\n";
    return false;
  }
  bytesRead = static_cast<std::uint32_t>(got);
  bytesReadFromSource += got;
  return true;
}

bool FileCopyCommand::WriteToHandle(platform::FileHandle handle) {
  Logger& logger = Logger::GetInstance();
  std::uint64_t moved = 0;
  while (moved != sourceSize) {
    std::uint32_t bytesRead = 0;
    if (!SetSourceDataToBuffer(bytesRead)) {
      logger << "SetSourceDataToBuffer failed\n";
      return false;
    }
    if (bytesRead == 0) {
      // The source shrank after its size was taken: the copy cannot be whole.
      logger << "source file ended after " << moved << " of " << sourceSize << " bytes\n";
      return false;
    }
    moved += bytesRead;
    if (!HashChunk(copyBuffer, bytesRead)) return false;
    if (!writeEnabled) continue;

    std::size_t written = 0;
    if (const std::error_code error = platform::writeFile(handle, copyBuffer, bytesRead, written)) {
      logger << "WriteFile failed:" << GetLastErrorMessage(error) << "\n";
      return false;
    }
    if (written != bytesRead) {
      logger << "written size is different from read size\n";
      return false;
    }
  }
  return true;
}

}  // namespace RazaDedeZuzev
