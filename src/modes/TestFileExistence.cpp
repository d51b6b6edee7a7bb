#include "base/PathUtil.h"
#include "base/TextEncoding.h"
#include "base/TextWriter.h"
#include "job/InputFile.h"
#include "modes/Modes.h"

namespace RazaDedeZuzev {

// Writes a line with the uuid and the size for every record whose path names
// a regular file; missing files are told by the uuids that do not come back.
bool TestFileExistence(InputFile& job, TextWriter& output) {
  job.AddColumn("uuid");
  job.AddColumn("dir_name");
  job.AddColumn("file_name");
  job.AddColumn("storage_type");

  const std::uint64_t rowCount = job.GetRowCount();
  std::string line;
  for (std::uint64_t row = 0; row < rowCount; ++row) {
    const std::u16string uuid = toWideString(job.GetCell(row, "uuid"));
    const std::u16string dirName = toWideString(job.GetCell(row, "dir_name"));
    const std::u16string fileName = toWideString(job.GetCell(row, "file_name"));
    toWideString(job.GetCell(row, "storage_type"));  // read like the others, not used

    const std::int64_t size = getRegularFileSize(joinPath(dirName, fileName));
    if (size == -1) continue;
    line.assign("file\t").append(toUtf8(uuid)).push_back('\t');
    appendDecimal(line, size);
    line.push_back('\n');
    output.Write(line);
  }
  return true;
}

}  // namespace RazaDedeZuzev
