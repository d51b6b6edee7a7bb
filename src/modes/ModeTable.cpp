#include "modes/ModeTable.h"

#include <array>

#include "base/Logger.h"
#include "modes/Modes.h"
#include "platform/System.h"
#include "zip/EntryNames.h"

namespace RazaDedeZuzev {
namespace {

// In the order in which the mode words are matched.
constexpr std::array<ModeDescription, 9> kModes{{
    {"batch_copy_to_resource_store",
     [](InputFile& job, TextWriter& output) {
       return ExecuteBatchCopyToResourceStore(job, output, false);
     },
     "ExecuteBatchCopyToResourceStore failed\n"},
    {"batch_copy_to_resource_store_from_multiple_directories",
     [](InputFile& job, TextWriter& output) {
       return ExecuteBatchCopyToResourceStore(job, output, true);
     },
     "ExecuteBatchCopyToResourceStoreFromMultipleDirectories failed\n"},
    {"test_file_existence", TestFileExistence, "TestFileExistence failed\n"},
    // Writes no result lines: the output file stays empty.
    {"batch_copy_from_resource_store",
     [](InputFile& job, TextWriter&) { return ExecuteBatchCopyFromResourceStore(job); },
     "ExecuteBatchCopyFromResourceStore failed\n"},
    {"extract_from_zip", ExecuteExtractFromZip, "ExecuteExtractFromZip failed\n", true},
    {"extract_from_zip_to_resource_store", ExecuteExtractFromZipToResourceStore,
     "ExecuteExtractFromZipToResourceStore failed\n", true},
    {"list_zip_entry",
     [](InputFile& job, TextWriter& output) { return ExecuteListZipEntry(job, output, false); },
     "ExecuteListZipEntry failed\n", true},
    {"list_zip_entry_with_first_block",
     [](InputFile& job, TextWriter& output) { return ExecuteListZipEntry(job, output, true); },
     "ExecuteListZipEntryWithFirstBlock failed\n", true},
    {"list_files", ExecuteListFiles, "ExecuteListFiles failed\n"},
}};

bool sameWord(std::u16string_view given, const char* word) {
  std::size_t i = 0;
  for (; word[i] != '\0'; ++i) {
    if (i == given.size() || given[i] != static_cast<unsigned char>(word[i])) return false;
  }
  return i == given.size();
}

}  // namespace

bool checkArchiveSettings() {
  if (zipCodePageFromEnvironment()) return true;
  Logger::GetInstance() << kZipCodePageVariable << " names no code page this system can read: \""
                        << platform::getEnvironmentVariable(kZipCodePageVariable).value_or("") << "\"\n";
  return false;
}

const ModeDescription* findMode(std::u16string_view word) {
  for (const ModeDescription& mode : kModes) {
    if (sameWord(word, mode.word)) return &mode;
  }
  return nullptr;
}

}  // namespace RazaDedeZuzev
