// A whole run of a mode on an arbitrary job file. The first byte picks the
// mode, the rest is the job. The run happens in a scratch directory, and the
// harness keeps every path inside it: leading separators are taken off each
// field and ".." never survives, so a job names only files below the scratch
// directory (which holds no links), never the machine's files or devices.

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "app/Application.h"
#include "platform/Utf.h"

namespace fs = std::filesystem;

namespace {

const char* const kModeWords[] = {
    "batch_copy_to_resource_store", "batch_copy_to_resource_store_from_multiple_directories",
    "test_file_existence",          "batch_copy_from_resource_store",
    "extract_from_zip",             "extract_from_zip_to_resource_store",
    "list_zip_entry",               "list_zip_entry_with_first_block",
    "list_files"};

fs::path scratch;  // where the runs happen
fs::path seed;     // the pristine tree, out of the runs' reach

// The tree every run starts from: a few sources, a store, an archive.
void plantSeedTree(const fs::path& root, const char* sampleArchive) {
  fs::create_directories(root / "in/sub");
  fs::create_directories(root / "store/ab/cd");
  for (const auto& [name, text] : {std::pair<const char*, const char*>{"in/a.txt", "alpha\n"},
                                   {"in/sub/b.bin", "\x01\x02\x03"},
                                   {"store/ab/cd/abcd-1", "stored\n"}}) {
    std::FILE* file = std::fopen((root / name).c_str(), "wb");
    if (file != nullptr) {
      std::fputs(text, file);
      std::fclose(file);
    }
  }
  std::error_code ignored;
  if (sampleArchive != nullptr) fs::copy_file(sampleArchive, root / "in/sample.zip", ignored);
}

// Each field relative, without "..": inside the scratch directory.
std::string confine(const std::uint8_t* data, std::size_t size) {
  std::string job(reinterpret_cast<const char*>(data), size);
  for (std::size_t i = 0; i + 1 < job.size(); ++i) {
    if (job[i] == '.' && job[i + 1] == '.') job[i] = job[i + 1] = '_';
  }
  std::string confined;
  bool fieldStart = true;
  for (char c : job) {
    if (fieldStart && (c == '/' || c == '\\')) continue;
    confined.push_back(c);
    fieldStart = c == '\t' || c == '\n' || c == '\r';
  }
  return confined;
}

void resetScratch() {
  std::error_code ignored;
  for (const fs::directory_entry& entry : fs::directory_iterator(scratch, ignored)) {
    fs::remove_all(entry.path(), ignored);
  }
  fs::copy(seed, scratch, fs::copy_options::recursive, ignored);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  char runs[] = "/tmp/razadedezuzev-fuzz-run-XXXXXX";
  char pristine[] = "/tmp/razadedezuzev-fuzz-seed-XXXXXX";
  if (::mkdtemp(runs) == nullptr || ::mkdtemp(pristine) == nullptr) std::abort();
  scratch = runs;
  seed = pristine;
  plantSeedTree(seed, std::getenv("RAZADEDEZUZEV_FUZZ_SAMPLE_ZIP"));
  resetScratch();
  ::setenv("NUV_RAZADEDEZUZEV_GET_MAX_RETRY_DURATION", "0", 1);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::string job = confine(data + 1, size - 1);
  const fs::path jobPath = scratch / "job";
  std::FILE* file = std::fopen(jobPath.c_str(), "wb");
  if (file == nullptr) return 0;
  std::fwrite(job.data(), 1, job.size(), file);
  std::fclose(file);

  // Relative paths resolve against the scratch directory.
  const fs::path previous = fs::current_path();
  fs::current_path(scratch);
  const std::vector<std::u16string> arguments = {
      u"razadedezuzev", RazaDedeZuzev::platform::utf8ToUtf16(kModeWords[data[0] % 9]), u"job"};
  RazaDedeZuzev::RazaDedeZuzevApplication application;
  if (application.ParseArguments(arguments)) application.Run();
  fs::current_path(previous);

  resetScratch();
  return 0;
}
