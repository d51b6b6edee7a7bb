// Which engine library the program takes, and that it refuses one it cannot
// use safely. A copy of the program is placed next to the library under test,
// where it is looked for first.

#include <gtest/gtest.h>

#include "support/ZipSupport.h"

using namespace testsupport;
using namespace ziptest;

namespace {

struct ModeFailure {
  const char* mode;
  const char* failureLine;
};

constexpr ModeFailure kZipModes[] = {
    {"list_zip_entry", "ExecuteListZipEntry failed\n"},
    {"list_zip_entry_with_first_block", "ExecuteListZipEntryWithFirstBlock failed\n"},
    {"extract_from_zip", "ExecuteExtractFromZip failed\n"},
    {"extract_from_zip_to_resource_store", "ExecuteExtractFromZipToResourceStore failed\n"},
};

// Every zip mode fails before its first record, and nothing calls into the
// library (the fakes end the process when they are called).
void expectRefusedEngine(const fs::path& programDirectory) {
  ScratchDir dir;
  const fs::path archive = makeArchive(dir, "mixed");
  const std::string job = zipParameter(archive) + "output_base_dir_path\t" + dir.str("out") +
                          "\nfile\tu1234\tfive.txt\tfive.txt\t" + dir.str("store") + "\t1\n";
  for (const ModeFailure& zipMode : kZipModes) {
    const RunResult run = runCopiedProgram(programDirectory, zipMode.mode, dir, job);
    EXPECT_EQ(run.exitCode, 2) << zipMode.mode;
    EXPECT_EQ(run.out, "") << zipMode.mode;
    EXPECT_EQ(run.err, "failed to create archive objectSetZipFilePath failed: " +
                           archive.string() + "\n" + zipMode.failureLine);
  }
}

}  // namespace

TEST(EngineLibrary, AFileThatIsNoLibraryBesideTheProgramIsRefused) {
  ScratchDir programDirectory;
  writeFile(programDirectory / "7z.so", "not a shared library");
  expectRefusedEngine(programDirectory.path());
}

TEST(EngineLibrary, AnEngineOfTheOlderInterfaceConventionIsRefused) {
  ScratchDir programDirectory;
  fs::copy_file(OLD_CONVENTION_ENGINE, programDirectory / "7z.so");
  expectRefusedEngine(programDirectory.path());
}

TEST(EngineLibrary, AnEngineThatDoesNotTellItsConventionIsRefused) {
  ScratchDir programDirectory;
  fs::copy_file(ENGINE_WITHOUT_CONVENTION, programDirectory / "7z.so");
  expectRefusedEngine(programDirectory.path());
}

TEST(EngineLibrary, TheInstalledEngineServesAProgramWithoutOneBesideIt) {
  ScratchDir programDirectory;
  ScratchDir dir;
  const RunResult run = runCopiedProgram(programDirectory.path(), "list_zip_entry", dir,
                                         zipParameter(makeArchive(dir, "empty")));
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_FALSE(run.errExists) << run.err;
}
