#include "e2e/WritingModes.h"

#include <chrono>
#include <stdexcept>

namespace e2e {

using namespace testsupport;

const std::vector<WritingMode>& writingModes() {
  static const std::vector<WritingMode> modes{
      {"batch_copy_to_resource_store", Source::BaseDirectory, true, true,
       "ExecuteBatchCopyToResourceStore failed\n"},
      {"batch_copy_to_resource_store_from_multiple_directories", Source::OwnDirectories, true, true,
       "ExecuteBatchCopyToResourceStoreFromMultipleDirectories failed\n"},
      {"batch_copy_from_resource_store", Source::Store, false, false,
       "ExecuteBatchCopyFromResourceStore failed\n"},
      {"extract_from_zip", Source::Archive, false, true, "ExecuteExtractFromZip failed\n"},
      {"extract_from_zip_to_resource_store", Source::Archive, true, true,
       "ExecuteExtractFromZipToResourceStore failed\n"}};
  return modes;
}

std::string testName(const WritingMode& mode) {
  std::string name;
  bool wordStart = true;
  for (const char* c = mode.word; *c != '\0'; ++c) {
    if (*c != '_') name += wordStart ? static_cast<char>(*c - 'a' + 'A') : *c;
    wordStart = *c == '_';
  }
  return name;
}

void PrintTo(const WritingMode& mode, std::ostream* stream) { *stream << mode.word; }

Workspace::Workspace(const WritingMode& mode, std::vector<Item> items)
    : writingMode(mode), jobItems(std::move(items)) {
  std::string names;
  for (std::size_t n = 0; n < jobItems.size(); ++n) {
    const Item& item = jobItems[n];
    writeFile(dir / "in" / item.name, item.bytes);
    digests.push_back(md5Hex(dir / "in" / item.name));
    names += " " + quoted(item.name);
    if (mode.source == Source::OwnDirectories) writeFile(dir / "dirs" / std::to_string(n) / item.name, item.bytes);
    if (mode.source == Source::Store) writeFile(storageDirectoryOf(item) / item.uuid, item.bytes);
  }
  if (readsArchive()) {
    fs::create_directories(archive().parent_path());
    const std::string zip = "cd " + quoted((dir / "in").string()) + " && zip -q -X -D " +
                            quoted(archive().string()) + names;
    if (shell(zip) != 0) throw std::runtime_error("failed: " + zip);
  }
  fs::create_directories(dir / "store");
  fs::create_directories(dir / "out");
}

fs::path Workspace::storageDirectoryOf(const Item& item) const {
  return dir / "store" / item.uuid.substr(0, 2) / item.uuid.substr(2, 2);
}

fs::path Workspace::sourceOf(const Item& item) const {
  const std::size_t n = static_cast<std::size_t>(&item - jobItems.data());
  switch (writingMode.source) {
    case Source::BaseDirectory: return dir / "in" / item.name;
    case Source::OwnDirectories: return dir / "dirs" / std::to_string(n) / item.name;
    case Source::Store: return storageDirectoryOf(item) / item.uuid;
    case Source::Archive: return archive();
  }
  return {};
}

fs::path Workspace::destinationOf(const Item& item) const {
  return writingMode.intoStore ? storageDirectoryOf(item) / item.uuid : dir / "out" / item.name;
}

std::string Workspace::resultLines(std::size_t count) const {
  std::string lines;
  for (std::size_t n = 0; n < count && writingMode.writesResultLines; ++n) {
    const Item& item = jobItems[n];
    lines += line({"file", item.uuid, std::to_string(item.bytes.size()), digests[n]});
  }
  return lines;
}

void Workspace::writeJob() const {
  const std::string store = dir.job("store");
  std::string text = writingMode.source == Source::BaseDirectory ? line({"input_base_dir_path", dir.job("in")}) : "";
  if (readsArchive()) text += line({"zip_file_path", jobPath(archive())});
  if (!writingMode.intoStore) text += line({"output_base_dir_path", dir.job("out")});
  for (std::size_t n = 0; n < jobItems.size(); ++n) {
    const Item& item = jobItems[n];
    const std::string ownDirectory = dir.job("dirs/" + std::to_string(n));
    text += writingMode.source == Source::OwnDirectories ? line({"file", item.uuid, ownDirectory, item.name, store, "1"})
            : !readsArchive()                             ? line({"file", item.uuid, item.name, store, "1"})
            : writingMode.intoStore ? line({"file", item.uuid, item.name, item.name, store, "1"})
                                    : line({"file", item.uuid, item.name, item.name});
  }
  writeFile(job(), text);
}

RunResult Workspace::run(const RunOptions& options) const {
  return runProgram({writingMode.word, jobPath(job())}, job(), options);
}

void Workspace::openToEveryone() const { shell("chmod -R a+rwX " + quoted(dir.path().string())); }

TreeSnapshot snapshotTree(const fs::path& root) {
  TreeSnapshot snapshot;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    if (entry.is_regular_file() && !entry.is_symlink()) {
      snapshot[entry.path()] = FileState{readFile(entry.path()), entry.last_write_time()};
    }
  }
  return snapshot;
}

void ageFile(const fs::path& path) {
  fs::last_write_time(path, fs::file_time_type::clock::now() - std::chrono::hours(24));
}

}  // namespace e2e
