#pragma once

// The five modes that write files, described so that one test can run any of
// them, and a Workspace that lays out one job's items for one mode:
//   in/<name>          every item (the source of the first mode)
//   dirs/<n>/<name>    the sources of the mode with a directory per record
//   store/...          the store (source or target), storage type 1
//   zip/archive.zip    the archive of the zip modes, made of in/
//   out/<name>         the targets of the plain copies

#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "support/TestSupport.h"

namespace e2e {

namespace fs = std::filesystem;

enum class Source { BaseDirectory, OwnDirectories, Store, Archive };

struct WritingMode {
  const char* word;
  Source source;
  bool intoStore;           // else into output_base_dir_path
  bool writesResultLines;
  const char* failureLine;  // what a failed run ends with
};
void PrintTo(const WritingMode& mode, std::ostream* stream);
std::string testName(const WritingMode& mode);  // the mode word in upper camel case

const std::vector<WritingMode>& writingModes();

// One record. `name` is the source's file name, the entry's name in the
// archive and the destination's name below the output directory.
struct Item {
  std::string uuid;
  std::string name;
  std::string bytes;
};

class Workspace {
 public:
  Workspace(const WritingMode& mode, std::vector<Item> items);

  const testsupport::ScratchDir& scratch() const { return dir; }
  const std::vector<Item>& items() const { return jobItems; }
  const WritingMode& mode() const { return writingMode; }
  bool readsArchive() const { return writingMode.source == Source::Archive; }

  // The file the mode reads the item from (the archive for a zip mode).
  fs::path sourceOf(const Item& item) const;
  fs::path destinationOf(const Item& item) const;
  fs::path storageDirectoryOf(const Item& item) const;
  fs::path archive() const { return dir / "zip/archive.zip"; }
  fs::path job() const { return dir / "job"; }

  // The output of a run whose first `count` items completed.
  std::string resultLines(std::size_t count) const;

  // Writes the job file; a run of the mode then works on all items.
  void writeJob() const;
  testsupport::RunResult run(const testsupport::RunOptions& options = {}) const;
  // Opens the whole tree to the unprivileged user of the tests.
  void openToEveryone() const;

 private:
  testsupport::ScratchDir dir;
  WritingMode writingMode;
  std::vector<Item> jobItems;
  std::vector<std::string> digests;  // of each item's bytes
};

// Every regular file below a directory, with its bytes and time stamp, so
// that a test can tell that a run left it alone.
struct FileState {
  std::string bytes;
  fs::file_time_type time;
  friend bool operator==(const FileState&, const FileState&) = default;
};
using TreeSnapshot = std::map<fs::path, FileState>;
TreeSnapshot snapshotTree(const fs::path& root);

// Sets a file's time stamp a day back, so that a rewrite would show.
void ageFile(const fs::path& path);

}  // namespace e2e
