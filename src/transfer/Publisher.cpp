#include "transfer/Publisher.h"

#include <algorithm>
#include <map>
#include <set>

#include "base/Durability.h"
#include "base/Logger.h"
#include "base/PathUtil.h"
#include "base/TextEncoding.h"
#include "base/TextWriter.h"
#include "platform/FileSystem.h"

namespace RazaDedeZuzev {
namespace {

constexpr std::size_t kLargestBatch = 256;

// Each pending copy holds a descriptor; a batch leaves room for the
// descriptors the copies themselves need.
std::size_t batchCapacity() {
  const std::uint64_t limit = platform::openFileLimit();
  const std::uint64_t room = limit > 16 ? (limit - 16) / 2 : 1;
  return static_cast<std::size_t>(std::clamp<std::uint64_t>(room, 1, kLargestBatch));
}

std::string systemFailure(const char* what, std::u16string_view path, const std::error_code& error) {
  return std::string(what) + asUtf8(path) + ": " + GetLastErrorMessage(error) + "\n";
}

}  // namespace

Publisher::Publisher(TextWriter* output)
    : output(output), durable(durableWritesWanted()), capacity(batchCapacity()) {
  pending.reserve(capacity);
}

Publisher::~Publisher() {
  for (PendingFile& copy : pending) platform::discardTemporaryFile(copy.file);
}

bool Publisher::Add(PendingFile copy) {
  if (copy.file.file && platform::getFileSystemInfo(copy.file.file.get(), copy.fileSystem)) {
    copy.fileSystem = {};  // unknown: synced file by file
  }
  pending.push_back(std::move(copy));
  return pending.size() < capacity || Flush();
}

bool Publisher::Flush() {
  std::string failure;
  std::size_t failedAt = durable ? syncData(failure) : pending.size();
  std::size_t published = 0;
  while (published < failedAt && publish(pending[published], failure)) ++published;
  failedAt = std::min(failedAt, published);
  if (durable && published > 0 && !syncNames(published, failure)) failedAt = 0;
  for (std::size_t i = 0; i < failedAt && output != nullptr; ++i) output->Write(pending[i].resultLine);
  if (failedAt < pending.size() && !failure.empty()) {
    Logger::GetInstance() << failure << pending[failedAt].failureLine;
  }
  const bool complete = failedAt == pending.size();
  for (PendingFile& copy : pending) platform::discardTemporaryFile(copy.file);
  pending.clear();
  return complete;
}

// Makes the data of every pending copy durable; returns the number of the
// first whose data could not be, or the count when all could.
std::size_t Publisher::syncData(std::string& failure) {
  // File systems where one sync reaches every file: one sync each. Should it
  // fail, each of its files is synced alone, to tell which one failed.
  std::map<std::uint64_t, bool> wholeSyncs;  // file system -> its sync worked
  for (std::size_t i = 0; i < pending.size(); ++i) {
    const PendingFile& copy = pending[i];
    if (!copy.file.file) continue;
    if (copy.fileSystem.wholeSyncReachesFiles) {
      auto [found, isNew] = wholeSyncs.try_emplace(copy.fileSystem.id, false);
      if (isNew) found->second = !platform::syncFileSystem(copy.file.file.get());
      if (found->second) continue;
    }
    if (const std::error_code error = platform::syncFileData(copy.file.file.get())) {
      failure = systemFailure("failed to sync file: ", copy.destination, error);
      return i;
    }
  }
  return pending.size();
}

// Names the copy's file, never replacing anything. A regular file that got
// the name meanwhile wins; anything else under the name fails the record.
bool Publisher::publish(PendingFile& copy, std::string& failure) {
  if (!copy.file.file) return true;
  const std::error_code error = platform::publishTemporaryFile(copy.file, copy.destination);
  copy.named = !error;
  if (!error) return true;
  platform::FileStatus status;
  if (error == std::errc::file_exists && !platform::getNameStatus(copy.destination, status) &&
      status.type == platform::FileType::RegularFile) {
    return true;
  }
  failure = error == std::errc::file_exists
                ? "destination is not a regular file: " + asUtf8(copy.destination) + "\n"
                : systemFailure("failed to publish file: ", copy.destination, error);
  return false;
}

// Makes the names of the first `count` copies durable: one sync per file
// system where that reaches everything, a sync of each directory elsewhere.
bool Publisher::syncNames(std::size_t count, std::string& failure) {
  std::set<std::uint64_t> wholeSyncs;
  std::set<std::u16string> directories;
  for (std::size_t i = 0; i < count; ++i) {
    const PendingFile& copy = pending[i];
    if (!copy.named) continue;
    const bool whole = copy.fileSystem.wholeSyncReachesFiles;
    if (whole && !wholeSyncs.insert(copy.fileSystem.id).second) continue;
    std::u16string directory = directoryOfFile(copy.destination);
    if (!whole && !directories.insert(directory).second) continue;
    if (const std::error_code error = platform::syncDirectory(directory, whole)) {
      failure = systemFailure("failed to sync directory: ", directory, error);
      return false;
    }
  }
  return true;
}

}  // namespace RazaDedeZuzev
