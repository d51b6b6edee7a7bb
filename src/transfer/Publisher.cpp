#include "transfer/Publisher.h"

#include <algorithm>
#include <set>
#include <system_error>

#include "base/Durability.h"
#include "base/Logger.h"
#include "base/PathUtil.h"
#include "base/TextEncoding.h"
#include "base/TextWriter.h"
#include "platform/FileSystem.h"
#include "platform/WorkerPool.h"

namespace RazaDedeZuzev {
namespace {

// A batch's syncs wait for the disk together while the next batch is being
// copied; the last batch has no copying left to overlap with, so a run has
// eight batches or more, and its last one is short.
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

// Lanes for `count` syncs or removals that wait for the disk or a server:
// one for every few, as a thread costs about as much to wake as a sync that
// finds nothing left to do.
std::size_t lanesFor(std::size_t count) {
  return std::min(FileSyncs::kLanes, (count + FileSyncs::kSyncsPerWake - 1) / FileSyncs::kSyncsPerWake);
}

// Closes every copy and removes the temporary names left. Where copies had
// to be written under a temporary name (a network or user-space file
// system), each removal waits for the server: they run side by side.
void discardEvery(std::vector<PendingFile>& copies) {
  const auto discard = [&](std::size_t i) { platform::discardTemporaryFile(copies[i].file); };
  const bool anyNamed = std::any_of(copies.begin(), copies.end(),
                                    [](const PendingFile& copy) { return !copy.file.temporaryPath.empty(); });
  platform::forEachInParallel(copies.size(), anyNamed ? lanesFor(copies.size()) : 1, discard);
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
  syncs.WaitForAll();  // their files stay open until then
  for (PendingFile& copy : pending) discardPendingFile(copy);
  pending.clear();
}

bool Publisher::Add(PendingFile copy) {
  if (durable && copy.file.file) syncs.Start(copy.file.file.get(), copy.digest);
  pending.push_back(std::move(copy));
  return pending.size() < capacity || publishBatch();
}

bool Publisher::publishBatch() {
  std::string failure;
  std::size_t failedAt = settleWrites(failure);
  if (durable) failedAt = syncData(failedAt, failure);
  std::size_t published = 0;
  while (published < failedAt && publish(pending[published], failure)) ++published;
  failedAt = std::min(failedAt, published);
  discardEvery(pending);
  removeLeftoverTemporaries(pending.size());
  if (durable && published > 0 && !syncNames(published, failure)) failedAt = 0;
  if (const std::size_t reported = writeLines(failedAt); reported < failedAt) {
    failedAt = reported;
    Logger::GetInstance() << pending[failedAt].failureLine;
  } else if (failedAt < pending.size() && !failure.empty()) {
    Logger::GetInstance() << failure << pending[failedAt].failureLine;
  }
  const bool complete = failedAt == pending.size();
  pending.clear();
  return complete;
}

std::size_t Publisher::writeLines(std::size_t count) {
  std::string line;
  for (std::size_t i = 0; i < count; ++i) {
    line = pending[i].resultLine;
    if (pending[i].digest) {
      // A digest that cannot be had is no empty field: the record fails.
      const std::string hex = pending[i].digest->WaitForHex();
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

// Waits for the data syncs of the pending copies; returns the number of the
// first of the first `count` whose data could not be made durable, or
// `count` when all could. A network or user-space file system may report a
// write that failed only here.
std::size_t Publisher::syncData(std::size_t count, std::string& failure) {
  const std::vector<std::error_code> errors = syncs.WaitForAll();
  for (std::size_t i = 0, started = 0; i < count; ++i) {
    if (!pending[i].file.file) continue;
    if (const std::error_code& error = errors[started++]) {
      failure = systemFailure("failed to sync file: ", pending[i].destination, error);
      return i;
    }
  }
  return count;
}

// A killed run leaves temporary names where the file system has no
// unnamed files; the directories this run wrote to lose those whose writers
// are gone. After the batch's own temporary names are gone, so that only
// other processes' remain; each removal waits for the server, so they run
// side by side.
void Publisher::removeLeftoverTemporaries(std::size_t count) {
  std::vector<std::u16string> directories;
  for (std::size_t i = 0; i < count; ++i) {
    if (!pending[i].sweepDirectory) continue;
    std::u16string directory = directoryOfFile(pending[i].destination);
    if (swept.insert(directory).second) directories.push_back(std::move(directory));
  }
  platform::forEachInParallel(directories.size(), lanesFor(directories.size()), [&](std::size_t i) {
    platform::removeAbandonedTemporaryFiles(directories[i], kTemporaryNamePrefix);
  });
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

// Makes the names of the first `count` copies durable: a sync of each
// directory that got a name, the file's own and those above it in which
// its directories were made, each once, all issued together.
bool Publisher::syncNames(std::size_t count, std::string& failure) {
  std::set<std::u16string> named;
  for (std::size_t i = 0; i < count; ++i) {
    const PendingFile& copy = pending[i];
    if (!copy.named) continue;
    std::u16string directory = directoryOfFile(copy.destination);
    named.insert(directory);
    for (unsigned level = 0; level < copy.parentsWithNewNames; ++level) {
      directory = directoryOfFile(directory);
      named.insert(directory);
    }
  }
  const std::vector<std::u16string> directories(named.begin(), named.end());
  std::vector<std::error_code> errors(directories.size());
  platform::forEachInParallel(directories.size(), lanesFor(directories.size()),
                              [&](std::size_t i) { errors[i] = platform::syncDirectory(directories[i]); });
  for (std::size_t i = 0; i < directories.size(); ++i) {
    if (errors[i]) {
      failure = systemFailure("failed to sync directory: ", directories[i], errors[i]);
      return false;
    }
  }
  return true;
}

}  // namespace RazaDedeZuzev
