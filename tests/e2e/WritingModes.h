#pragma once

// The five modes that write files, described so that one test can run any of
// them: where each reads an item from, where it puts it, and how its job file
// and result lines look. A Workspace lays out one job's items for one mode.

#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "support/TestSupport.h"

namespace e2e {

namespace fs = std::filesystem;

enum class SourceKind {
  BaseDirectory,   // input_base_dir_path/<name>
  OwnDirectories,  // a directory per record (dir_name)/<name>
  Store,           // the stored file of the record's uuid
  Archive,         // the entry <name> of the job's zip archive
};

enum class TargetKind {
  Store,      // the stored file of the record's uuid
  Directory,  // output_base_dir_path/<name>
};

struct WritingMode {
  const char* word;
  SourceKind source;
  TargetKind target;
  bool writesResultLines;
  const char* failureLine;  // what a failed run ends with
};

void PrintTo(const WritingMode& mode, std::ostream* stream);

// All five, and the three that write into the store.
const std::vector<WritingMode>& writingModes();
const std::vector<WritingMode>& storeWritingModes();
// A test name part: the mode word in upper camel case.
std::string testName(const WritingMode& mode);

bool readsArchive(const WritingMode& mode);

// One record of a job. `name` is the source's file name, the entry's name in
// the archive and the destination's name below the output directory.
struct Item {
  std::string uuid;
  std::string name;
  std::string bytes;
};

// A scratch directory with one job's items placed where the mode reads them:
//   in/<name>          every item (and the source of BaseDirectory)
//   dirs/<n>/<name>    OwnDirectories, n = the item's position
//   store/...          the store (source or target), storage type 1
//   zip/archive.zip    Archive, made of in/
//   out/<name>         Directory targets
class Workspace {
 public:
  Workspace(const WritingMode& mode, std::vector<Item> items);

  const testsupport::ScratchDir& scratch() const { return dir; }
  const std::vector<Item>& items() const { return jobItems; }
  const WritingMode& mode() const { return writingMode; }

  // The file the mode reads the item from (the archive for Archive).
  fs::path sourceOf(const Item& item) const;
  fs::path destinationOf(const Item& item) const;
  // The store's directory of the item's uuid, with a final separator.
  std::string storageDirectoryOf(const Item& item) const;
  fs::path archive() const { return dir / "zip/archive.zip"; }
  fs::path job() const { return dir / "job"; }

  // The result line of the item ("" for a mode without result lines) and
  // the output of a run whose first `count` items completed.
  std::string resultLine(const Item& item) const;
  std::string resultLines(std::size_t count) const;

  // Writes the job file; a run of the mode then works on all items.
  void writeJob() const;
  // Opens the whole tree to the unprivileged user of the tests.
  void openToEveryone() const;

 private:
  fs::path storedFileOf(const Item& item) const;

  testsupport::ScratchDir dir;
  WritingMode writingMode;
  std::vector<Item> jobItems;
  std::map<std::string, std::string> digests;  // by uuid
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
