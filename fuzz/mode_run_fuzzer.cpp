// A whole run of a mode on an arbitrary job file. The first byte picks the
// mode, the rest is the job. The server that writes job files is trusted,
// the names in them are not: the harness sets the directories a server
// would (the job's base directories, archive, store roots and dir_name
// columns, all inside a scratch directory), and leaves every other cell as
// the fuzzer made it: uuids, file names, entry names. After each run it
// checks that
//  - nothing was written outside the scratch directory (its parent holds a
//    sentinel tree that must stay as it is), and
//  - every line of the result file has the fields of its mode's result line.

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "Scratch.h"
#include "Workers.h"
#include "Split.h"
#include "app/Application.h"
#include "platform/Utf.h"

namespace fs = std::filesystem;

namespace {

struct Mode {
  const char* word;
  // Record fields the harness sets, as a server would: a directory of the
  // scratch tree each.
  std::vector<std::pair<std::size_t, const char*>> trustedColumns;
  std::size_t resultFields;  // 0: no result lines
};

const Mode kModes[] = {
    {"batch_copy_to_resource_store", {{3, "store"}}, 4},
    {"batch_copy_to_resource_store_from_multiple_directories", {{2, "in"}, {4, "store"}}, 4},
    {"test_file_existence", {{2, "in"}}, 3},
    {"batch_copy_from_resource_store", {{3, "store"}}, 0},
    {"extract_from_zip", {}, 4},
    {"extract_from_zip_to_resource_store", {{4, "store"}}, 4},
    {"list_zip_entry", {}, 5},
    {"list_zip_entry_with_first_block", {}, 6},
    {"list_files", {}, 3}};

fs::path outside;  // the sentinel's directory; holds the scratch directory too
fs::path scratch;  // where the runs happen
fs::path seed;     // the pristine tree, out of the runs' reach

void writeText(const fs::path& path, const std::string& text) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return;
  std::fwrite(text.data(), 1, text.size(), file);
  std::fclose(file);
}

// The tree every run starts from: a few sources, a store, an archive.
void plantSeedTree(const fs::path& root, const char* sampleArchive) {
  fs::create_directories(root / "in/sub");
  fs::create_directories(root / "store/ab/cd");
  writeText(root / "in/a.txt", "alpha\n");
  writeText(root / "in/sub/b.bin", "\x01\x02\x03");
  writeText(root / "store/ab/cd/abcd-1", "stored\n");
  std::error_code ignored;
  if (sampleArchive != nullptr) fs::copy_file(sampleArchive, root / "in/sample.zip", ignored);
}

// The job a server would write around the fuzzer's cells.
std::string makeJob(const Mode& mode, const std::string& input) {
  const std::string root = scratch.string();
  std::string job;
  for (std::string line : fuzzing::split(input, '\n')) {
    if (line.rfind("file\t", 0) == 0) {
      std::vector<std::string> fields = fuzzing::split(line, '\t');
      for (const auto& [column, directory] : mode.trustedColumns) {
        if (column < fields.size()) fields[column] = root + "/" + directory;
      }
      line.clear();
      for (const std::string& field : fields) line += (line.empty() ? "" : "\t") + field;
    }
    job += line + "\n";
  }
  // Later parameter lines win: the server's directories stand.
  for (const char* key : {"input_base_dir_path", "output_base_dir_path", "dir_path"}) {
    job += std::string(key) + "\t" + root + (key[0] == 'o' ? "/out" : "/in") + "\n";
  }
  return job + "zip_file_path\t" + root + "/in/sample.zip\n";
}

std::set<fs::path> entriesOutsideScratch() {
  std::set<fs::path> entries;
  std::error_code ignored;
  for (auto it = fs::recursive_directory_iterator(outside, ignored); it != fs::recursive_directory_iterator();
       it.increment(ignored)) {
    if (it->path() == scratch) {
      it.disable_recursion_pending();
      continue;
    }
    entries.insert(it->path());
  }
  return entries;
}

void checkResultLines(const Mode& mode) {
  std::FILE* file = std::fopen((scratch / "job.out").c_str(), "rb");
  if (file == nullptr) return;
  std::string text;
  char buffer[4096];
  for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, file)) > 0;) text.append(buffer, got);
  std::fclose(file);
  if (!text.empty() && text.back() != '\n') __builtin_trap();  // a cut line
  for (const std::string& line : fuzzing::split(text, '\n')) {
    if (line.empty()) continue;
    if (mode.resultFields == 0 || fuzzing::split(line, '\t').size() != mode.resultFields) __builtin_trap();
  }
}

void resetScratch() {
  std::error_code ignored;
  for (const fs::directory_entry& entry : fs::directory_iterator(scratch, ignored)) fs::remove_all(entry.path(), ignored);
  fs::copy(seed, scratch, fs::copy_options::recursive, ignored);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  outside = fuzzing::makeScratchDirectory("run");
  scratch = outside / "a/b/scratch";  // names with ".." reach the sentinel first
  fs::create_directories(scratch);
  writeText(outside / "a/sentinel", "must stay\n");
  seed = fuzzing::makeScratchDirectory("seed");
  plantSeedTree(seed, std::getenv("RAZADEDEZUZEV_FUZZ_SAMPLE_ZIP"));
  resetScratch();
  ::setenv("NUV_RAZADEDEZUZEV_GET_MAX_RETRY_DURATION", "0", 1);
  ::setenv("NUV_RAZADEDEZUZEV_SYNC", "0", 1);  // nothing here needs the disk's work
  fuzzing::joinWorkersAtExit();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const Mode& mode = kModes[data[0] % std::size(kModes)];
  writeText(scratch / "job", makeJob(mode, std::string(reinterpret_cast<const char*>(data + 1), size - 1)));
  const std::set<fs::path> before = entriesOutsideScratch();

  // Relative paths resolve against the scratch directory.
  const fs::path previous = fs::current_path();
  fs::current_path(scratch);
  const std::vector<std::u16string> arguments = {u"razadedezuzev", RazaDedeZuzev::platform::utf8ToUtf16(mode.word),
                                                 u"job"};
  RazaDedeZuzev::RazaDedeZuzevApplication application;
  if (application.ParseArguments(arguments)) application.Run();
  fs::current_path(previous);

  checkResultLines(mode);
  if (entriesOutsideScratch() != before) __builtin_trap();  // written outside the scratch directory
  resetScratch();
  return 0;
}
