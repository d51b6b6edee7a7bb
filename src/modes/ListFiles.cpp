#include <string>
#include <vector>

#include "base/Logger.h"
#include "base/PathUtil.h"
#include "base/TextEncoding.h"
#include "base/TextWriter.h"
#include "job/InputFile.h"
#include "modes/ModeSupport.h"
#include "modes/Modes.h"
#include "platform/File.h"
#include "platform/FileSystem.h"

namespace RazaDedeZuzev {
namespace {

// Directories kept open at once, however deep the tree: deeper ones are read
// to their end into memory and closed, and reopened (by name, from their
// parent) only when one of their subdirectories is to be listed.
constexpr std::size_t kOpenDirectories = 32;

// One directory on the path from the listed root to the one being read.
struct Level {
  platform::UniqueDirectory directory;  // may be closed, see kOpenDirectories
  platform::FileIdentity identity;
  std::u16string name;                  // in its parent; empty for the root
  std::size_t prefixLength = 0;         // of the relative prefix up to and with it
  bool buffered = false;                // its remaining entries are in `rest`
  std::vector<platform::DirectoryEntry> rest;
  std::size_t next = 0;                 // in `rest`
};

class Walk {
 public:
  Walk(std::u16string base, TextWriter& output) : base(std::move(base)), output(output) {}

  // Lists the tree depth first: the entries below a subdirectory come where
  // the subdirectory was met. False after the message of the first failure.
  bool Run();

 private:
  bool openRoot();
  bool enter(Level& parent, const platform::DirectoryEntry& entry);
  bool nextEntry(Level& level, platform::DirectoryEntry& entry, bool& atEnd);
  bool bufferRest(Level& level);
  bool reopen(std::size_t depth);
  void report(const platform::DirectoryEntry& entry);
  bool onPath(const platform::FileIdentity& identity) const;
  void reportSearchFailure(const std::error_code& error, std::u16string_view directory);

  std::u16string base;   // the listed directory, ending with a separator
  TextWriter& output;
  std::vector<Level> levels;
  std::u16string prefix;  // relative path of the directory being read, with its separator
  std::string line;       // reused for every result line
};

bool Walk::Run() {
  if (!openRoot()) return false;
  platform::DirectoryEntry entry;
  while (!levels.empty()) {
    Level& level = levels.back();
    bool atEnd = false;
    if (!nextEntry(level, entry, atEnd)) return false;
    if (atEnd) {
      levels.pop_back();
      prefix.resize(levels.empty() ? 0 : levels.back().prefixLength);
      continue;
    }
    if (entry.statusError) {
      // What the entry is cannot be learnt: it is neither listed nor left out
      // as if it were not there.
      Logger::GetInstance() << "failed to get status of file: " << toUtf8(base + prefix + entry.name) << ": "
                            << GetLastErrorMessage(entry.statusError) << "\n";
      return false;
    }
    if (entry.type == platform::FileType::Directory) {
      if (!enter(level, entry)) return false;
    } else if (entry.type == platform::FileType::RegularFile && !entry.hidden) {
      report(entry);
    }
  }
  return true;
}

bool Walk::openRoot() {
  Level root;
  if (const std::error_code error = platform::openDirectory(base, root.directory, root.identity)) {
    reportSearchFailure(error, base);
    return false;
  }
  levels.push_back(std::move(root));
  return true;
}

// Opens the subdirectory and makes it the one being read, unless it is one
// of the directories on the path already (a link back up the tree).
bool Walk::enter(Level& parent, const platform::DirectoryEntry& entry) {
  if (!parent.directory && !reopen(levels.size() - 1)) return false;
  Level child;
  child.name = entry.name;
  const std::error_code error =
      platform::openSubdirectory(levels.back().directory.get(), entry.name, child.directory, child.identity);
  if (error) {
    reportSearchFailure(error, base + prefix + entry.name + platform::kNativeSeparator);
    return false;
  }
  if (onPath(child.identity)) return true;
  std::size_t open = 0;
  for (const Level& level : levels) open += level.directory ? 1 : 0;
  if (open >= kOpenDirectories) {
    // The shallowest open one but the root gives its descriptor up.
    for (std::size_t depth = 1; depth < levels.size(); ++depth) {
      if (levels[depth].directory) {
        if (!bufferRest(levels[depth])) return false;
        break;
      }
    }
  }
  prefix.append(entry.name).push_back(platform::kNativeSeparator);
  child.prefixLength = prefix.size();
  levels.push_back(std::move(child));
  return true;
}

bool Walk::nextEntry(Level& level, platform::DirectoryEntry& entry, bool& atEnd) {
  if (level.buffered) {
    atEnd = level.next == level.rest.size();
    if (!atEnd) entry = level.rest[level.next++];
    return true;
  }
  if (const std::error_code error = platform::readDirectoryEntry(level.directory.get(), entry, atEnd)) {
    // Part of the directory is unread: its files are not known to be absent.
    Logger::GetInstance() << "FindNextFile failed (" << GetLastErrorMessage(error) << ")\n";
    return false;
  }
  return true;
}

// Reads the rest of the directory into memory and closes it.
bool Walk::bufferRest(Level& level) {
  platform::DirectoryEntry entry;
  for (bool atEnd = false;;) {
    if (!nextEntry(level, entry, atEnd)) return false;
    if (atEnd) break;
    level.rest.push_back(entry);
  }
  level.buffered = true;
  level.directory.reset();
  return true;
}

// Opens the directory at `depth` again, from its nearest open ancestor, one
// name at a time; each must still be the directory it was.
bool Walk::reopen(std::size_t depth) {
  std::size_t from = depth;
  while (!levels[from].directory) --from;  // the root is always open
  platform::UniqueDirectory current;
  for (std::size_t next = from + 1; next <= depth; ++next) {
    platform::UniqueDirectory opened;
    platform::FileIdentity identity;
    const platform::DirectoryHandle parent = next == from + 1 ? levels[from].directory.get() : current.get();
    std::error_code error = platform::openSubdirectory(parent, levels[next].name, opened, identity);
    if (!error && !(identity == levels[next].identity)) error = std::make_error_code(std::errc::no_such_file_or_directory);
    if (error) {
      reportSearchFailure(error, base + prefix.substr(0, levels[next].prefixLength));
      return false;
    }
    current = std::move(opened);
  }
  levels[depth].directory = std::move(current);
  return true;
}

void Walk::report(const platform::DirectoryEntry& entry) {
  const std::string path = toUtf8(prefix + entry.name);
  // A name that a result line or a job could not carry is left out, and said so.
  if (const char* why = unlistableName(path, platform::kNativeSeparator != u'\\')) {
    reportLeftOut(path, why);
    return;
  }
  line.assign("file\t");
  appendDecimal(line, static_cast<std::int64_t>(entry.size));
  line.append("\t").append(path).push_back('\n');
  output.Write(line);
}

bool Walk::onPath(const platform::FileIdentity& identity) const {
  // A system that cannot tell a directory's identity gives zeros.
  if (identity == platform::FileIdentity{}) return false;
  for (const Level& level : levels) {
    if (level.identity == identity) return true;
  }
  return false;
}

void Walk::reportSearchFailure(const std::error_code& error, std::u16string_view directory) {
  Logger::GetInstance() << "FindFirstFile failed (" << GetLastErrorMessage(error) << ")\n";
  Logger::GetInstance() << toMultiByteString(std::u16string(directory) + u"*", kCodePageShiftJis) << "\n";
}

}  // namespace

bool ExecuteListFiles(InputFile& job, TextWriter& output) {
  std::u16string base = toWideString(job.GetParameter("dir_path"));
  // An empty dir_path names no directory: the search fails and says so.
  if (!base.empty() && !isPathSeparator(base.back())) base.push_back(platform::kNativeSeparator);
  return Walk(std::move(base), output).Run();
}

}  // namespace RazaDedeZuzev
