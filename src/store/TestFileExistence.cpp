#include <cinttypes>
#include <cstdio>

#include "app/Handlers.h"
#include "copy/PathUtil.h"
#include "copy/TextEncoding.h"
#include "input/InputFile.h"

namespace RazaDedeZuzev {

// Writes a line with the uuid and the size for every record whose path names
// a regular file; missing files are told by the uuids that do not come back.
bool TestFileExistence(InputFile& job, std::FILE* output) {
  job.AddColumn("uuid");
  job.AddColumn("dir_name");
  job.AddColumn("file_name");
  job.AddColumn("storage_type");

  const std::uint64_t rowCount = job.GetRowCount();
  for (std::uint64_t row = 0; row < rowCount; ++row) {
    const std::u16string uuid = toWideString(job.GetCell(row, "uuid"));
    const std::u16string dirName = toWideString(job.GetCell(row, "dir_name"));
    const std::u16string fileName = toWideString(job.GetCell(row, "file_name"));
    toWideString(job.GetCell(row, "storage_type"));  // read like the others, not used

    const std::int64_t size = getRegularFileSize(joinPath(dirName, fileName));
    if (size == -1) continue;
    std::fprintf(output, "file\t%s\t%" PRId64 "\n", toMultiByteString(uuid, kCodePageUtf8).c_str(),
                 size);
  }
  return true;
}

}  // namespace RazaDedeZuzev
