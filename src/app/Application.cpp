#include "app/Application.h"

#include <array>
#include <cstdio>
#include <cstring>

#include "app/Handlers.h"
#include "app/Logger.h"
#include "input/InputFile.h"

namespace RazaDedeZuzev {
namespace {

struct ModeDescription {
  const char* word;
  Mode mode;
  const char* failureMessage;
};

constexpr std::array<ModeDescription, 9> kModes{{
    {"batch_copy_to_resource_store", Mode::BatchCopyToResourceStore,
     "ExecuteBatchCopyToResourceStore failed\n"},
    {"batch_copy_to_resource_store_from_multiple_directories",
     Mode::BatchCopyToResourceStoreFromMultipleDirectories,
     "ExecuteBatchCopyToResourceStoreFromMultipleDirectories failed\n"},
    {"test_file_existence", Mode::TestFileExistence, "TestFileExistence failed\n"},
    {"batch_copy_from_resource_store", Mode::BatchCopyFromResourceStore,
     "ExecuteBatchCopyFromResourceStore failed\n"},
    {"extract_from_zip", Mode::ExtractFromZip, "ExecuteExtractFromZip failed\n"},
    {"extract_from_zip_to_resource_store", Mode::ExtractFromZipToResourceStore,
     "ExecuteExtractFromZipToResourceStore failed\n"},
    {"list_zip_entry", Mode::ListZipEntry, "ExecuteListZipEntry failed\n"},
    {"list_zip_entry_with_first_block", Mode::ListZipEntryWithFirstBlock,
     "ExecuteListZipEntryWithFirstBlock failed\n"},
    {"list_files", Mode::ListFiles, "ExecuteListFiles failed\n"},
}};

bool runHandler(Mode mode, InputFile& job, std::FILE* output) {
  switch (mode) {
    case Mode::BatchCopyToResourceStore:
      return ExecuteBatchCopyToResourceStore(job, output, false);
    case Mode::BatchCopyToResourceStoreFromMultipleDirectories:
      return ExecuteBatchCopyToResourceStore(job, output, true);
    case Mode::TestFileExistence:
      return TestFileExistence(job, output);
    case Mode::BatchCopyFromResourceStore:
      return ExecuteBatchCopyFromResourceStore(job);
    case Mode::ExtractFromZip:
      return ExecuteExtractFromZip(job, output);
    case Mode::ExtractFromZipToResourceStore:
      return ExecuteExtractFromZipToResourceStore(job, output);
    case Mode::ListZipEntry:
      return ExecuteListZipEntry(job, output, false);
    case Mode::ListZipEntryWithFirstBlock:
      return ExecuteListZipEntry(job, output, true);
    case Mode::ListFiles:
      return ExecuteListFiles(job, output);
  }
  return false;
}

const char* failureMessageOf(Mode mode) {
  return kModes[static_cast<std::size_t>(mode)].failureMessage;
}

}  // namespace

bool RazaDedeZuzevApplication::ParseArguments(int argc, const char* const* argv) {
  if (argc < 3) {
    Logger::GetInstance() << "usage: razadedezuzev.exe <mode> <input file>\n";
    return false;
  }
  inputFilePath = argv[2];
  for (const ModeDescription& description : kModes) {
    if (std::strcmp(argv[1], description.word) == 0) {
      mode = description.mode;
      return true;
    }
  }
  Logger::GetInstance() << "unknown mode: " << argv[1] << "\n";
  return false;
}

bool RazaDedeZuzevApplication::Run() {
  Logger& logger = Logger::GetInstance();
  logger.errorFilePath = inputFilePath + ".err";
  AutoCloseLogger loggerGuard;

  InputFile job;
  if (!job.Load(inputFilePath)) return false;

  const std::string outputFilePath = inputFilePath + ".out";
  std::FILE* output = std::fopen(outputFilePath.c_str(), "w");
  if (output == nullptr) {
    logger << "failed to open file: " << outputFilePath << "\n";
    return false;
  }
  AutoCloseFile outputGuard(&output);
  // Result lines are many and short: write them in large blocks.
  std::setvbuf(output, nullptr, _IOFBF, 1 << 16);

  bool result = runHandler(mode, job, output);
  if (!result) logger << failureMessageOf(mode);

  // A result line that did not reach the disk must not pass for one that
  // did: a failed write or close fails the run.
  const bool written = std::ferror(output) == 0;
  const bool closed = std::fclose(output) == 0;
  output = nullptr;
  if (!written || !closed) {
    logger << "failed to write file: " << outputFilePath << "\n";
    if (result) logger << failureMessageOf(mode);
    return false;
  }
  return result;
}

}  // namespace RazaDedeZuzev
