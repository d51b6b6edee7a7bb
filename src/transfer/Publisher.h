#pragma once

// Copies are written into temporary files and wait here for their names.
// They are published in batches: the batch's data is made durable (one sync
// of each file system where that reaches every file, a sync of each file
// elsewhere), each file gets its final name without replacing anything, the
// names are made durable, and only then are the batch's result lines
// written, in record order. So no result line ever names a file that a
// crash could still take back, and a job of many small files pays for a
// few syncs, not for one per file. The names of a full batch are made
// durable by the sync that makes the next batch's data durable, where one
// sync reaches both: one sync per batch instead of two.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/File.h"
#include "transfer/DigestPipeline.h"

namespace RazaDedeZuzev {

class TextWriter;

// One finished copy of a record.
struct PendingFile {
  // The bytes, not yet named. Empty when a regular file held the name
  // already: that file stays, and only the line is written.
  platform::TemporaryFile file;
  std::u16string destination;
  std::string resultLine;   // "" for a mode without result lines
  // When set, its hex digits and a line end complete the result line.
  std::shared_ptr<PendingDigest> digest;
  std::string failureLine;  // the mode's line for this record, should it fail here
  // Filled by the Publisher: where the file lies, and whether it got the name.
  platform::FileSystemInfo fileSystem;
  bool named = false;
};

// Drops a copy that is never to be published: the pipeline's writes to its
// file end first, then the file goes.
void discardPendingFile(PendingFile& copy);

class Publisher {
 public:
  // `output` receives the result lines; null for a mode that writes none.
  // `copiesExpected` sizes the batches.
  Publisher(TextWriter* output, std::uint64_t copiesExpected);
  Publisher(const Publisher&) = delete;
  Publisher& operator=(const Publisher&) = delete;
  // Copies still pending are dropped, never named.
  ~Publisher();

  // Takes a finished copy; publishes the batch when it is full. False after
  // the messages of the first copy of the batch that failed.
  bool Add(PendingFile copy);

  // Makes the pending copies durable and named, then writes their lines.
  // False after the messages naming the first that failed: the copies
  // before it are published and reported, the ones after it dropped.
  bool Flush() { return publishBatch(true); }

 private:
  // `last`: the names of this batch are made durable now, not with the
  // next batch's data.
  bool publishBatch(bool last);
  std::size_t settleWrites(std::string& failure);
  std::size_t syncData(std::size_t count, std::string& failure, std::vector<std::uint64_t>& syncedWhole);
  bool publish(PendingFile& copy, std::string& failure);
  bool syncNames(const std::vector<PendingFile>& copies, std::size_t count, std::string& failure,
                 const std::vector<std::uint64_t>& syncedWhole);
  // Writes the lines of the first `count` copies; returns how many were
  // written (fewer after the messages of a digest that failed).
  std::size_t writeLines(const std::vector<PendingFile>& copies, std::size_t count);
  void discardAll();

  TextWriter* output;
  bool durable;
  std::size_t capacity;
  std::vector<PendingFile> pending;
  // Named, but their names are not durable yet, nor their lines written.
  std::vector<PendingFile> awaitingNames;
};

}  // namespace RazaDedeZuzev
