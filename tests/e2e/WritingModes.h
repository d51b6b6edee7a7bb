#pragma once

// The five modes that write files, described so that one test can run any of
// them, and a Workspace that lays out one job's items for one mode:
//   in/<name>          every item (the source of the first mode)
//   dirs/<n>/<name>    the sources of the mode with a directory per record
//   store/...          the store (source or target), storage type 1
//   zip/archive.zip    the archive of the zip modes, made of in/
//   out/<name>         the targets of the plain copies

#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "support/TestSupport.h"

namespace e2e {

using namespace testsupport;

enum class Source { BaseDirectory, OwnDirectories, Store, Archive };

struct WritingMode {
  const char* word;
  Source source;
  bool intoStore;  // else into output_base_dir_path
  bool writesResultLines;
  std::string failureLine() const { return testsupport::failureLine(word); }
  friend void PrintTo(const WritingMode& mode, std::ostream* stream) { *stream << mode.word; }
};

inline const std::vector<WritingMode>& writingModes() {
  static const std::vector<WritingMode> modes{
      {"batch_copy_to_resource_store", Source::BaseDirectory, true, true},
      {"batch_copy_to_resource_store_from_multiple_directories", Source::OwnDirectories, true, true},
      {"batch_copy_from_resource_store", Source::Store, false, false},
      {"extract_from_zip", Source::Archive, false, true},
      {"extract_from_zip_to_resource_store", Source::Archive, true, true}};
  return modes;
}
// Names a parameterised test after its mode.
inline std::string testName(const ::testing::TestParamInfo<WritingMode>& info) { return info.param.word; }

// One record. `name` is the source's file name, the entry's name in the
// archive and the destination's name below the output directory.
struct Item {
  std::string uuid;
  std::string name;
  std::string bytes;
};

struct Workspace {
  const ScratchDir dir;
  const WritingMode mode;
  const std::vector<Item> items;
  std::vector<std::string> digests;  // of each item's bytes

  Workspace(const WritingMode& writingMode, std::vector<Item> jobItems) : mode(writingMode), items(std::move(jobItems)) {
    std::string names;
    for (std::size_t n = 0; n < items.size(); ++n) {
      const Item& item = items[n];
      writeFile(dir / "in" / item.name, item.bytes);
      digests.push_back(md5Hex(dir / "in" / item.name));
      names += " " + quoted(item.name);
      if (mode.source == Source::OwnDirectories) writeFile(dir / "dirs" / std::to_string(n) / item.name, item.bytes);
      if (mode.source == Source::Store) writeFile(storageDirectoryOf(item) / item.uuid, item.bytes);
    }
    fs::create_directories(dir / "zip");
    const std::string zip = "cd " + quoted((dir / "in").string()) + " && zip -q -X -D " + quoted(archive().string()) + names;
    if (readsArchive() && shell(zip) != 0) throw std::runtime_error("failed: " + zip);
    fs::create_directories(dir / "store");
    fs::create_directories(dir / "out");
  }

  bool readsArchive() const { return mode.source == Source::Archive; }
  fs::path archive() const { return dir / "zip/archive.zip"; }
  fs::path job() const { return dir / "job"; }

  // The file the mode reads the item from (the archive for a zip mode).
  fs::path sourceOf(const Item& item) const {
    switch (mode.source) {
      case Source::BaseDirectory: return dir / "in" / item.name;
      case Source::OwnDirectories: return dir / "dirs" / std::to_string(&item - items.data()) / item.name;
      case Source::Store: return storageDirectoryOf(item) / item.uuid;
      case Source::Archive: return archive();
    }
    return {};
  }
  fs::path destinationOf(const Item& item) const {
    return mode.intoStore ? storageDirectoryOf(item) / item.uuid : dir / "out" / item.name;
  }
  fs::path storageDirectoryOf(const Item& item) const {
    return dir / "store" / item.uuid.substr(0, 2) / item.uuid.substr(2, 2);
  }

  // The output of a run whose first `count` items completed.
  std::string resultLines(std::size_t count) const {
    std::string lines;
    for (std::size_t n = 0; n < count && mode.writesResultLines; ++n) {
      lines += resultLine(items[n].uuid, items[n].bytes.size(), digests[n]);
    }
    return lines;
  }
  // The line that ends the messages of a record that failed.
  std::string copyFailedLine(const Item& item) const {
    const std::string to = destinationOf(item).string();
    return readsArchive() ? "file copy failed: " + to + "\n"
                          : "File Copy failed: (from " + sourceOf(item).string() + ", to " + to + ")\n";
  }

  // Writes the job file; a run of the mode then works on all items.
  void writeJob() const {
    const std::string store = dir.job("store");
    std::string text = mode.source == Source::BaseDirectory ? line({"input_base_dir_path", dir.job("in")}) : "";
    if (readsArchive()) text += zipParameter(archive());
    if (!mode.intoStore) text += line({"output_base_dir_path", dir.job("out")});
    for (std::size_t n = 0; n < items.size(); ++n) {
      const Item& item = items[n];
      text += mode.source == Source::OwnDirectories
                  ? line({"file", item.uuid, dir.job("dirs/" + std::to_string(n)), item.name, store, "1"})
              : !readsArchive()       ? line({"file", item.uuid, item.name, store, "1"})
              : mode.intoStore ? line({"file", item.uuid, item.name, item.name, store, "1"})
                                      : line({"file", item.uuid, item.name, item.name});
    }
    writeFile(job(), text);
  }
  RunResult run(const RunOptions& options = {}) const {
    return runProgram({mode.word, jobPath(job())}, job(), options);
  }
  // Opens the whole tree to the unprivileged user of the tests.
  void openToEveryone() const { shell("chmod -R a+rwX " + quoted(dir.path().string())); }
};

// Every regular file below a directory, with its bytes and time stamp, so
// that a test can tell that a run left it alone.
struct FileState {
  std::string bytes;
  fs::file_time_type time;
  friend bool operator==(const FileState&, const FileState&) = default;
};
using TreeSnapshot = std::map<fs::path, FileState>;
inline TreeSnapshot snapshotTree(const fs::path& root) {
  TreeSnapshot snapshot;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    if (entry.is_regular_file() && !entry.is_symlink()) snapshot[entry.path()] = {readFile(entry.path()), entry.last_write_time()};
  }
  return snapshot;
}

// The environment that makes FaultPoint.cpp act on a run of the program:
// `setting` is one of the variables it reads.
inline std::map<std::string, std::string> faultPointEnvironment(const std::string& setting, std::uint64_t value) {
  // The sanitizers' runtime wants to be the first library; here it cannot.
  const char* sanitizerOptions = std::getenv("ASAN_OPTIONS");
  return {{setting, std::to_string(value)},
          {"LD_PRELOAD", FAULT_POINT_LIBRARY},
          {"ASAN_OPTIONS", std::string(sanitizerOptions == nullptr ? "" : sanitizerOptions) + ":verify_asan_link_order=0"}};
}

// Sets a file's time stamp a day back, so that a rewrite would show.
inline void ageFile(const fs::path& path) {
  fs::last_write_time(path, fs::file_time_type::clock::now() - std::chrono::hours(24));
}

}  // namespace e2e
