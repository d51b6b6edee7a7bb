#include <string>
#include <vector>

#include "base/Logger.h"
#include "base/PathUtil.h"
#include "base/TextEncoding.h"
#include "base/TextWriter.h"
#include "job/InputFile.h"
#include "modes/Modes.h"
#include "platform/File.h"
#include "platform/FileSystem.h"

namespace RazaDedeZuzev {
namespace {

struct Walk {
  std::u16string base;  // the listed directory, ending with a separator
  TextWriter& output;
  // Directories from the root down to the one being read: a link that leads
  // back to one of them is not entered again, so a link loop ends.
  std::vector<platform::FileIdentity> path;
  std::string line;  // reused for every result line
};

void reportSearchFailure(const std::error_code& error, const std::u16string& pattern) {
  Logger::GetInstance() << "FindFirstFile failed (" << GetLastErrorMessage(error) << ")\n"
                        << toMultiByteString(pattern, kCodePageShiftJis) << "\n";
}

void printFile(Walk& walk, const std::u16string& relativePath, std::uint64_t size) {
  walk.line.clear();
  walk.line.append("file\t");
  appendDecimal(walk.line, static_cast<std::int64_t>(size));
  walk.line.append("\t").append(toUtf8(relativePath)).push_back('\n');
  walk.output.Write(walk.line);
}

bool isOnPath(const Walk& walk, const platform::FileIdentity& identity) {
  for (const platform::FileIdentity& ancestor : walk.path) {
    if (ancestor == identity) return true;
  }
  return false;
}

}  // namespace

// Lists one directory depth first: the entries below a subdirectory come
// where the subdirectory was met. False when a directory cannot be searched.
bool listDirectoryRecursively(Walk& walk, const std::u16string& prefix) {
  const std::u16string directory = walk.base + prefix;
  platform::UniqueDirectory search;
  platform::FileIdentity identity;
  if (const std::error_code error = platform::openDirectory(directory, search, identity)) {
    reportSearchFailure(error, directory + u"*");
    return false;
  }
  if (isOnPath(walk, identity)) return true;  // a link back up the tree
  walk.path.push_back(identity);

  platform::DirectoryEntry entry;
  std::u16string relativePath;
  bool result = true;
  for (;;) {
    bool atEnd = false;
    if (const std::error_code error = platform::readDirectoryEntry(search.get(), entry, atEnd)) {
      Logger::GetInstance() << "FindNextFile failed (" << GetLastErrorMessage(error) << ")\n";
      break;  // this directory is done; the walk goes on
    }
    if (atEnd) break;
    relativePath.assign(prefix).append(entry.name);
    if (entry.type == platform::FileType::Directory) {
      relativePath.push_back(platform::kNativeSeparator);
      if (!listDirectoryRecursively(walk, relativePath)) {
        result = false;
        break;
      }
    } else if (entry.type == platform::FileType::RegularFile && !entry.hidden) {
      printFile(walk, relativePath, entry.size);
    }
  }
  walk.path.pop_back();
  return result;
}

bool ExecuteListFiles(InputFile& job, TextWriter& output) {
  Walk walk{toWideString(job.GetParameter("dir_path")), output, {}, {}};
  // An empty dir_path names no directory: the search fails and says so.
  if (!walk.base.empty() && !isPathSeparator(walk.base.back())) {
    walk.base.push_back(platform::kNativeSeparator);
  }
  return listDirectoryRecursively(walk, u"");
}

}  // namespace RazaDedeZuzev
