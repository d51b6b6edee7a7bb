#include "e2e/WritingModes.h"

#include <chrono>
#include <stdexcept>

namespace e2e {

using namespace testsupport;

namespace {

const WritingMode kToStore{"batch_copy_to_resource_store", SourceKind::BaseDirectory,
                           TargetKind::Store, true, "ExecuteBatchCopyToResourceStore failed\n"};
const WritingMode kToStoreFromDirectories{
    "batch_copy_to_resource_store_from_multiple_directories", SourceKind::OwnDirectories,
    TargetKind::Store, true, "ExecuteBatchCopyToResourceStoreFromMultipleDirectories failed\n"};
const WritingMode kFromStore{"batch_copy_from_resource_store", SourceKind::Store,
                             TargetKind::Directory, false, "ExecuteBatchCopyFromResourceStore failed\n"};
const WritingMode kExtract{"extract_from_zip", SourceKind::Archive, TargetKind::Directory, true,
                           "ExecuteExtractFromZip failed\n"};
const WritingMode kExtractToStore{"extract_from_zip_to_resource_store", SourceKind::Archive,
                                  TargetKind::Store, true,
                                  "ExecuteExtractFromZipToResourceStore failed\n"};

std::string shellQuoted(const fs::path& path) { return "'" + path.string() + "'"; }

std::string fields(const std::vector<std::string>& cells) {
  std::string line;
  for (const std::string& cell : cells) line += (line.empty() ? "" : "\t") + cell;
  return line + "\n";
}

void makeArchive(const fs::path& from, const std::vector<Item>& items, const fs::path& archive) {
  std::string command = "cd " + shellQuoted(from) + " && zip -q -X -D " + shellQuoted(archive);
  for (const Item& item : items) command += " " + shellQuoted(item.name);
  fs::create_directories(archive.parent_path());
  if (shell(command) != 0) throw std::runtime_error("failed: " + command);
}

}  // namespace

const std::vector<WritingMode>& writingModes() {
  static const std::vector<WritingMode> modes{kToStore, kToStoreFromDirectories, kFromStore,
                                              kExtract, kExtractToStore};
  return modes;
}

const std::vector<WritingMode>& storeWritingModes() {
  static const std::vector<WritingMode> modes{kToStore, kToStoreFromDirectories, kExtractToStore};
  return modes;
}

std::string testName(const WritingMode& mode) {
  std::string name;
  bool wordStart = true;
  for (const char* c = mode.word; *c != '\0'; ++c) {
    if (*c == '_') {
      wordStart = true;
      continue;
    }
    name += wordStart ? static_cast<char>(*c - 'a' + 'A') : *c;
    wordStart = false;
  }
  return name;
}

void PrintTo(const WritingMode& mode, std::ostream* stream) { *stream << mode.word; }

bool readsArchive(const WritingMode& mode) { return mode.source == SourceKind::Archive; }

Workspace::Workspace(const WritingMode& mode, std::vector<Item> items)
    : writingMode(mode), jobItems(std::move(items)) {
  for (std::size_t n = 0; n < jobItems.size(); ++n) {
    const Item& item = jobItems[n];
    writeFile(dir / "in" / item.name, item.bytes);
    digests[item.uuid] = md5Hex(dir / "in" / item.name);
    if (mode.source == SourceKind::OwnDirectories) {
      writeFile(dir / "dirs" / std::to_string(n) / item.name, item.bytes);
    }
    if (mode.source == SourceKind::Store) writeFile(storedFileOf(item), item.bytes);
  }
  if (readsArchive(mode)) makeArchive(dir / "in", jobItems, archive());
  fs::create_directories(dir / "store");
  fs::create_directories(dir / "out");
}

fs::path Workspace::storedFileOf(const Item& item) const {
  return fs::path(storageDirectoryOf(item)) / item.uuid;
}

std::string Workspace::storageDirectoryOf(const Item& item) const {
  return dir.str("store") + "/" + item.uuid.substr(0, 2) + "/" + item.uuid.substr(2, 2) + "/";
}

fs::path Workspace::sourceOf(const Item& item) const {
  switch (writingMode.source) {
    case SourceKind::BaseDirectory:
      return dir / "in" / item.name;
    case SourceKind::OwnDirectories:
      for (std::size_t n = 0; n < jobItems.size(); ++n) {
        if (jobItems[n].uuid == item.uuid) return dir / "dirs" / std::to_string(n) / item.name;
      }
      break;
    case SourceKind::Store:
      return storedFileOf(item);
    case SourceKind::Archive:
      return archive();
  }
  throw std::logic_error("item not in the job: " + item.uuid);
}

fs::path Workspace::destinationOf(const Item& item) const {
  return writingMode.target == TargetKind::Store ? storedFileOf(item) : dir / "out" / item.name;
}

std::string Workspace::resultLine(const Item& item) const {
  if (!writingMode.writesResultLines) return {};
  return fields({"file", item.uuid, std::to_string(item.bytes.size()), digests.at(item.uuid)});
}

std::string Workspace::resultLines(std::size_t count) const {
  std::string lines;
  for (std::size_t n = 0; n < count; ++n) lines += resultLine(jobItems[n]);
  return lines;
}

void Workspace::writeJob() const {
  const std::string store = dir.str("store");
  std::string text;
  if (writingMode.source == SourceKind::BaseDirectory) {
    text += fields({"input_base_dir_path", dir.str("in")});
  }
  if (readsArchive(writingMode)) text += fields({"zip_file_path", archive().string()});
  if (writingMode.target == TargetKind::Directory) {
    text += fields({"output_base_dir_path", dir.str("out")});
  }
  for (std::size_t n = 0; n < jobItems.size(); ++n) {
    const Item& item = jobItems[n];
    switch (writingMode.source) {
      case SourceKind::BaseDirectory:
      case SourceKind::Store:
        text += fields({"file", item.uuid, item.name, store, "1"});
        break;
      case SourceKind::OwnDirectories:
        text += fields({"file", item.uuid, dir.str("dirs/" + std::to_string(n)), item.name, store, "1"});
        break;
      case SourceKind::Archive:
        text += writingMode.target == TargetKind::Store
                    ? fields({"file", item.uuid, item.name, item.name, store, "1"})
                    : fields({"file", item.uuid, item.name, item.name});
        break;
    }
  }
  writeFile(job(), text);
}

void Workspace::openToEveryone() const { shell("chmod -R a+rwX " + shellQuoted(dir.path())); }

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
