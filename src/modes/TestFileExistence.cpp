#include <unordered_map>

#include "base/Logger.h"
#include "base/PathUtil.h"
#include "base/TextEncoding.h"
#include "base/TextWriter.h"
#include "job/InputFile.h"
#include "modes/Modes.h"
#include "platform/FileSystem.h"

namespace RazaDedeZuzev {

// Writes a line with the uuid and the size for every record whose path names
// a regular file; missing files are told by the uuids that do not come back.
// A path that cannot be examined (no right to search a directory, an I/O
// error) is no missing file: the mode stops there, with the system's text.
bool TestFileExistence(InputFile& job, TextWriter& output) {
  job.AddColumn("uuid");
  job.AddColumn("dir_name");
  job.AddColumn("file_name");
  job.AddColumn("storage_type");
  const InputFile::Column columns[] = {job.FindColumn("uuid"), job.FindColumn("dir_name"),
                                       job.FindColumn("file_name"), job.FindColumn("storage_type")};

  // Millions of records go through here: every buffer is reused.
  InputFile::Fields fields;
  std::string_view views[std::size(columns)];
  std::u16string cells[std::size(columns)];
  platform::StatusLookup lookup;
  // Each directory is converted and looked up once, found by the job's own
  // text of it (which stays where it is for the whole run).
  std::unordered_map<std::string_view, platform::StatusLookup::Directory> directories;
  const platform::StatusLookup::Directory noDirectory = lookup.AddDirectory(u"");
  std::string line;
  const std::uint64_t rowCount = job.GetRowCount();
  for (std::uint64_t row = 0; row < rowCount; ++row) {
    job.SplitRecord(row, fields);
    // The cells are converted as the job is read, in column order; where a
    // conversion cannot fail (text that is not empty), it may come later or
    // not at all: the uuid's when its line is written, a known directory's
    // never again, storage_type's (read, not used) never.
    platform::StatusLookup::Directory directory = 0;
    for (std::size_t n = 0; n < std::size(columns); ++n) {
      views[n] = job.GetCellView(fields, columns[n]);
      cells[n].clear();
      if (n == 1 && !views[n].empty()) {
        const auto [known, isNew] = directories.try_emplace(views[n]);
        if (isNew) {
          appendWideString(views[n], cells[n]);
          known->second = lookup.AddDirectory(cells[n]);
        }
        directory = known->second;
      } else if (n == 2 || views[n].empty()) {
        appendWideString(views[n], cells[n]);
        if (n == 1) directory = noDirectory;
      }
    }
    platform::FileStatus status;
    if (const std::error_code error = lookup.getFileStatus(directory, cells[2], status)) {
      Logger::GetInstance() << "failed to get status of file: " << toUtf8(joinPath(lookup.DirectoryPath(directory), cells[2]))
                            << ": " << GetLastErrorMessage(error) << "\n";
      return false;
    }
    if (status.type != platform::FileType::RegularFile) continue;
    if (!views[0].empty()) appendWideString(views[0], cells[0]);
    line.assign("file\t").append(toUtf8(cells[0])).push_back('\t');
    appendDecimal(line, static_cast<std::int64_t>(status.size));
    line.push_back('\n');
    output.Write(line);
  }
  return true;
}

}  // namespace RazaDedeZuzev
