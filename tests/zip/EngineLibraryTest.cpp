// Which engine library the program takes, and that it refuses one it cannot
// use safely. A copy of the program is placed next to the library under test,
// where it is looked for first.

#include <gtest/gtest.h>

#include "support/ZipSupport.h"

using namespace testsupport;
using namespace ziptest;

namespace {

// Runs a copy of the program placed in `directory`; the error file's text.
std::pair<int, std::string> runCopiedProgram(const fs::path& directory, const char* mode,
                                             const ScratchDir& dir, const std::string& jobText) {
  const fs::path program = directory / "razadedezuzev";
  fs::copy_file(RAZADEDEZUZEV_BINARY, program, fs::copy_options::overwrite_existing);
  writeFile(dir / "job", jobText);
  fs::remove(dir / "job.err");
  const int code = shell("timeout -s KILL 60 " + quoted(program.string()) + " " + mode + " " +
                         quoted((dir / "job").string()) + " > /dev/null");
  return {code, pathExists(dir / "job.err") ? readFile(dir / "job.err") : ""};
}

// Every zip mode fails before its first record, and nothing calls into the
// library (the fakes end the process when they are called).
void expectRefusedEngine(const fs::path& library) {
  ScratchDir programDirectory;
  if (library.empty()) {
    writeFile(programDirectory / "7z.so", "not a shared library");
  } else {
    fs::copy_file(library, programDirectory / "7z.so");
  }
  ScratchDir dir;
  const fs::path archive = makeArchive(dir, "mixed");
  const std::string job = zipParameter(archive) + "output_base_dir_path\t" + dir.job("out") +
                          "\nfile\tu1234\tfive.txt\tfive.txt\t" + dir.job("store") + "\t1\n";
  for (const auto& [mode, failure] : {std::pair{"list_zip_entry", "ExecuteListZipEntry"},
                                      std::pair{"extract_from_zip", "ExecuteExtractFromZip"}}) {
    const auto [code, err] = runCopiedProgram(programDirectory.path(), mode, dir, job);
    EXPECT_EQ(code, 2) << mode;
    EXPECT_EQ(err, "failed to create archive objectSetZipFilePath failed: " + archive.string() +
                       "\n" + failure + " failed\n");
  }
}

}  // namespace

TEST(EngineLibrary, RefusesWhatIsNoLibraryOrAnEngineOfAnotherConvention) {
  expectRefusedEngine({});
  expectRefusedEngine(OLD_CONVENTION_ENGINE);
  expectRefusedEngine(ENGINE_WITHOUT_CONVENTION);
}

TEST(EngineLibrary, TheInstalledEngineServesAProgramWithoutOneBesideIt) {
  ScratchDir programDirectory;
  ScratchDir dir;
  const auto [code, err] = runCopiedProgram(programDirectory.path(), "list_zip_entry", dir,
                                            zipParameter(makeArchive(dir, "empty")));
  EXPECT_EQ(code, 0);
  EXPECT_EQ(err, "");
}
