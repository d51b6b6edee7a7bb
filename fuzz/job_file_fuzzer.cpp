// Arbitrary bytes as a job file: loading, then every kind of cell and
// parameter access that a mode makes.

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "Scratch.h"
#include "base/Logger.h"
#include "job/InputFile.h"
#include "platform/Utf.h"

namespace {

const std::string& scratchFile() {
  static const std::string path = fuzzing::makeScratchFile("job");
  return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::FILE* file = std::fopen(scratchFile().c_str(), "wb");
  if (file == nullptr) return 0;
  std::fwrite(data, 1, size, file);
  std::fclose(file);

  RazaDedeZuzev::Logger::GetInstance().errorFilePath = u"/dev/null";
  RazaDedeZuzev::AutoCloseLogger quiet;
  RazaDedeZuzev::InputFile job;
  job.Load(RazaDedeZuzev::platform::utf8ToUtf16(scratchFile()));
  for (const char* column : {"uuid", "file_name", "dir_name", "private_resource_dir_path",
                             "storage_type", "uuid"}) {
    job.AddColumn(column);
  }
  const std::uint64_t rows = job.GetRowCount();
  for (std::uint64_t row = 0; row <= rows && row < 64; ++row) {
    for (const char* column : {"uuid", "file_name", "dir_name", "storage_type", "nope"}) {
      job.GetCell(row, column);
    }
  }
  job.GetParameter("dir_path");
  job.GetParameter("");
  return 0;
}
