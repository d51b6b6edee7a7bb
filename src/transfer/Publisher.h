#pragma once

// Copies are written into temporary files and wait here for their names.
// They are published in batches: the data of each file of the batch is made
// durable (a sync of that file, started as the copy arrives, many under way
// at once so that the file system can serve them with few journal commits,
// and waited for when the batch is published), each
// file gets its final name without replacing anything, the directories that
// got names are made durable (a sync of each), and only then are the
// batch's result lines written, in record order. So no result line ever
// names a file that a crash could still take back, and the program pays for
// what its job wrote, never for what other processes wrote to the same
// file system: no sync reaches beyond the files and directories of the job.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "platform/File.h"
#include "transfer/DigestPipeline.h"
#include "transfer/FileSyncs.h"

namespace RazaDedeZuzev {

class TextWriter;

// Where a temporary file must have a name, it is hidden and tells whose it is.
inline constexpr std::u16string_view kTemporaryNamePrefix = u".razadedezuzev-";

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
  // How many directories above the destination's own got a new entry when
  // this copy's directories were made: each is synced with the names.
  unsigned parentsWithNewNames = 0;
  bool named = false;  // set by the Publisher once the file has its name
  // Set when the destination's directory may hold temporary files that a
  // killed run left: this copy has a temporary name there, or the file
  // found under the final name has a second name. The Publisher removes
  // those whose writers are gone, once per directory and run.
  bool sweepDirectory = false;
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
  bool Flush() { return publishBatch(); }

 private:
  bool publishBatch();
  std::size_t settleWrites(std::string& failure);
  std::size_t syncData(std::size_t count, std::string& failure);
  bool publish(PendingFile& copy, std::string& failure);
  bool syncNames(std::size_t count, std::string& failure);
  // Writes the lines of the first `count` copies; returns how many were
  // written (fewer after the messages of a digest that failed).
  std::size_t writeLines(std::size_t count);
  void discardAll();
  void removeLeftoverTemporaries(std::size_t count);

  TextWriter* output;
  bool durable;
  std::size_t capacity;
  std::vector<PendingFile> pending;
  FileSyncs syncs;  // of the pending copies' data, started as each is added
  std::set<std::u16string> swept;  // directories cleared of leftover temporaries
};

}  // namespace RazaDedeZuzev
