#include "copy/FileCopyCommand.h"

#include <algorithm>

#include "app/Logger.h"
#include "copy/AutoClose.h"
#include "copy/PathUtil.h"
#include "copy/TextEncoding.h"

namespace RazaDedeZuzev {
namespace {

std::string toUtf8(std::u16string_view path) { return toMultiByteString(path, kCodePageUtf8); }

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
  return !platform::getFileStatus(path, status) && status.type != platform::FileType::Missing;
}

// Owns a temporary file until it is published; drops it otherwise.
class AutoDiscardTemporaryFile {
 public:
  explicit AutoDiscardTemporaryFile(platform::TemporaryFile* file) : file(file) {}
  AutoDiscardTemporaryFile(const AutoDiscardTemporaryFile&) = delete;
  AutoDiscardTemporaryFile& operator=(const AutoDiscardTemporaryFile&) = delete;
  ~AutoDiscardTemporaryFile() { platform::discardTemporaryFile(*file); }

 private:
  platform::TemporaryFile* file;
};

// A temporary file in `directory`, which is created when it is missing.
std::error_code createTemporaryFileIn(const std::u16string& directory,
                                      platform::TemporaryFile& file) {
  std::error_code error = platform::createTemporaryFile(directory, file);
  if (error == std::errc::no_such_file_or_directory) {
    createDirectoryRecursively(directory);
    error = platform::createTemporaryFile(directory, file);
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

  platform::FileHandle handle = platform::kInvalidFileHandle;
  const std::error_code error = platform::createNewFile(destination, handle);
  if (error == std::errc::file_exists) return TransferWithoutWriting();
  if (error) {
    reportOpenFailure(destination, error);
    return false;
  }
  AutoCloseHandle guard(&handle);
  const bool result = WriteToHandle(handle);
  platform::closeFile(handle);
  return result;
}

bool AbstractFileCopyCommand::CopyToStoredFile(std::u16string_view destination) {
  if (!HasCopyBuffer()) return false;
  // Checked first so that a file stored before costs no writing at all; one
  // that appears while this copy runs is caught when the name is given.
  if (nameIsTaken(destination)) return TransferWithoutWriting();

  platform::TemporaryFile file;
  if (const std::error_code error = createTemporaryFileIn(directoryOf(destination), file)) {
    reportOpenFailure(destination, error);
    return false;
  }
  AutoDiscardTemporaryFile guard(&file);
  if (!WriteToHandle(file.handle)) return false;

  const std::error_code error = platform::publishTemporaryFile(file, destination);
  if (!error || error == std::errc::file_exists) return true;
  Logger::GetInstance() << "failed to link file: " << toUtf8(destination) << ": "
                        << GetLastErrorMessage(error) << "\n";
  return false;
}

FileCopyCommand::~FileCopyCommand() { platform::closeFile(sourceHandle); }

bool FileCopyCommand::SetSourceFilePath(std::u16string_view path) {
  if (sourceHandle != platform::kInvalidFileHandle) {
    Logger::GetInstance() << "source file already defined\n";
    return false;
  }
  if (const std::error_code error = platform::openFileForRead(path, sourceHandle)) {
    reportOpenFailure(path, error);
    return false;
  }
  if (const std::error_code error = platform::getFileSize(sourceHandle, sourceSize)) {
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
  if (const std::error_code error = platform::readFile(sourceHandle, copyBuffer, wanted, got)) {
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
