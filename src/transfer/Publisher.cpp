#include "transfer/Publisher.h"

#include <algorithm>
#include <atomic>
#include <map>
#include <set>
#include <system_error>
#include <thread>

#include "base/Durability.h"
#include "base/Logger.h"
#include "base/PathUtil.h"
#include "base/TextEncoding.h"
#include "base/TextWriter.h"
#include "platform/FileSystem.h"

namespace RazaDedeZuzev {
namespace {

// A sync costs a journal commit and a flush of the disk's cache however
// little it carries: a few milliseconds here, paid once per batch. But the
// last batch's sync has no copying left to overlap with: a run has eight
// batches or more, so its last one is short.
constexpr std::uint64_t kLargestBatch = 2048;
constexpr std::uint64_t kSmallestBatch = 32;
constexpr std::uint64_t kBatchesPerRun = 8;

// Each pending copy holds a descriptor; a batch leaves room for the
// descriptors the copies themselves need.
std::size_t batchCapacity(std::uint64_t copiesExpected) {
  const std::uint64_t limit = platform::openFileLimit();
  const std::uint64_t room = limit > 16 ? (limit - 16) / 2 : 1;
  const std::uint64_t wanted = std::clamp(copiesExpected / kBatchesPerRun, kSmallestBatch, kLargestBatch);
  return static_cast<std::size_t>(std::min(room, wanted));
}

// A sync of a file on a network file system waits for the server's answer
// (a few milliseconds on a replicated volume): several at once share the
// wait. Runs work(i) for every i below `count` on up to that many threads,
// on the caller's alone where no thread can be started.
constexpr std::size_t kSyncLanes = 8;

template <typename Work>
void inParallel(std::size_t count, const Work& work) {
  std::atomic<std::size_t> next{0};
  const auto lane = [&] {
    for (std::size_t i = next++; i < count; i = next++) work(i);
  };
  std::vector<std::thread> lanes;
  for (std::size_t n = 1; n < std::min(count, kSyncLanes); ++n) {
    try {
      lanes.emplace_back(lane);
    } catch (const std::system_error&) {
      break;
    }
  }
  lane();
  for (std::thread& other : lanes) other.join();
}

// Closes every copy and removes the temporary names left. Where copies had
// to be written under a temporary name (a network or user-space file
// system), each removal waits for the server: they run side by side.
void discardEvery(std::vector<PendingFile>& copies) {
  const auto discard = [&](std::size_t i) { platform::discardTemporaryFile(copies[i].file); };
  const bool anyNamed = std::any_of(copies.begin(), copies.end(),
                                    [](const PendingFile& copy) { return !copy.file.temporaryPath.empty(); });
  if (anyNamed) {
    inParallel(copies.size(), discard);
  } else {
    for (std::size_t i = 0; i < copies.size(); ++i) discard(i);
  }
}

std::string systemFailure(const char* what, std::u16string_view path, const std::error_code& error) {
  return std::string(what) + asUtf8(path) + ": " + GetLastErrorMessage(error) + "\n";
}

}  // namespace

void discardPendingFile(PendingFile& copy) {
  if (copy.digest) copy.digest->WaitUntilDone();
  platform::discardTemporaryFile(copy.file);
}

Publisher::Publisher(TextWriter* output, std::uint64_t copiesExpected)
    : output(output), durable(durableWritesWanted()), capacity(batchCapacity(copiesExpected)) {
  pending.reserve(capacity);
}

Publisher::~Publisher() { discardAll(); }

void Publisher::discardAll() {
  for (std::vector<PendingFile>* copies : {&pending, &awaitingNames}) {
    for (PendingFile& copy : *copies) discardPendingFile(copy);
    copies->clear();
  }
}

bool Publisher::Add(PendingFile copy) {
  if (copy.file.file && platform::getFileSystemInfo(copy.file.file.get(), copy.fileSystem)) {
    copy.fileSystem = {};  // unknown: synced file by file
  }
  pending.push_back(std::move(copy));
  return pending.size() < capacity || publishBatch(false);
}

bool Publisher::publishBatch(bool last) {
  std::string failure;
  // This batch's data, and by the same syncs, where one reaches a whole
  // file system, the names of the batch before.
  std::vector<std::uint64_t> syncedWhole;
  std::size_t failedAt = settleWrites(failure);
  if (durable) failedAt = syncData(failedAt, failure, syncedWhole);
  if (durable && !syncNames(awaitingNames, awaitingNames.size(), failure, syncedWhole)) {
    Logger::GetInstance() << failure << awaitingNames.front().failureLine;
    discardAll();
    return false;
  }
  if (const std::size_t reported = writeLines(awaitingNames, awaitingNames.size()); reported < awaitingNames.size()) {
    Logger::GetInstance() << awaitingNames[reported].failureLine;
    discardAll();
    return false;
  }
  awaitingNames.clear();

  std::size_t published = 0;
  while (published < failedAt && publish(pending[published], failure)) ++published;
  failedAt = std::min(failedAt, published);
  discardEvery(pending);
  if (!last && failedAt == pending.size()) {
    awaitingNames = std::move(pending);
    pending.clear();
    return true;
  }
  if (durable && published > 0 && !syncNames(pending, published, failure, {})) failedAt = 0;
  if (const std::size_t reported = writeLines(pending, failedAt); reported < failedAt) {
    failedAt = reported;
    Logger::GetInstance() << pending[failedAt].failureLine;
  } else if (failedAt < pending.size() && !failure.empty()) {
    Logger::GetInstance() << failure << pending[failedAt].failureLine;
  }
  const bool complete = failedAt == pending.size();
  pending.clear();
  return complete;
}

std::size_t Publisher::writeLines(const std::vector<PendingFile>& copies, std::size_t count) {
  std::string line;
  for (std::size_t i = 0; i < count; ++i) {
    line = copies[i].resultLine;
    if (copies[i].digest) {
      // A digest that cannot be had is no empty field: the record fails.
      const std::string hex = copies[i].digest->WaitForHex();
      if (hex.empty()) return i;
      line.append(hex).push_back('\n');
    }
    if (output != nullptr) output->Write(line);
  }
  return count;
}

// Waits until the digest pipeline has written every pending copy; returns
// the number of the first whose writes failed, or the count when none did.
std::size_t Publisher::settleWrites(std::string& failure) {
  std::size_t failedAt = pending.size();
  for (std::size_t i = 0; i < pending.size(); ++i) {
    if (!pending[i].digest) continue;
    std::string writeFailure = pending[i].digest->WaitForWrites();
    if (!writeFailure.empty() && failedAt == pending.size()) {
      failedAt = i;
      failure = std::move(writeFailure);
    }
  }
  return failedAt;
}

// Makes the data of the first `count` pending copies durable; returns the
// number of the first whose data could not be, or `count` when all could.
// `syncedWhole` gets the file systems synced whole.
std::size_t Publisher::syncData(std::size_t count, std::string& failure,
                                std::vector<std::uint64_t>& syncedWhole) {
  // File systems where one sync reaches every file: one sync each. Should it
  // fail, each of its files is synced alone, to tell which one failed.
  std::map<std::uint64_t, bool> wholeSyncs;  // file system -> its sync worked
  std::vector<std::size_t> alone;             // the copies synced one by one
  for (std::size_t i = 0; i < count; ++i) {
    const PendingFile& copy = pending[i];
    if (!copy.file.file) continue;
    if (copy.fileSystem.wholeSyncReachesFiles) {
      auto [found, isNew] = wholeSyncs.try_emplace(copy.fileSystem.id, false);
      if (isNew) found->second = !platform::syncFileSystem(copy.file.file.get());
      if (isNew && found->second) syncedWhole.push_back(copy.fileSystem.id);
      if (found->second) continue;
    }
    alone.push_back(i);
  }
  std::vector<std::error_code> errors(alone.size());
  inParallel(alone.size(), [&](std::size_t k) { errors[k] = platform::syncFileData(pending[alone[k]].file.file.get()); });
  for (std::size_t k = 0; k < alone.size(); ++k) {
    if (errors[k]) {
      failure = systemFailure("failed to sync file: ", pending[alone[k]].destination, errors[k]);
      return alone[k];
    }
  }
  return count;
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
// system where that reaches everything (none where `syncedWhole` says it
// was synced whole after they were named), a sync of each directory
// elsewhere.
bool Publisher::syncNames(const std::vector<PendingFile>& copies, std::size_t count, std::string& failure,
                          const std::vector<std::uint64_t>& syncedWhole) {
  std::set<std::uint64_t> wholeSyncs(syncedWhole.begin(), syncedWhole.end());
  std::set<std::u16string> directories;
  for (std::size_t i = 0; i < count; ++i) {
    const PendingFile& copy = copies[i];
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
