// Which engine library the program takes, and that it refuses one it cannot
// use safely: a copy of the program is placed next to the library under
// test, where it is looked for first.

#include <gtest/gtest.h>

#include "support/TestSupport.h"

using namespace testsupport;

TEST(EngineLibrary, RefusesWhatIsNoLibraryOrAnEngineOfAnotherConventionAndElseFindsTheInstalledOne) {
  ScratchDir dir;
  const fs::path archive = makeArchive(dir, "mixed");
  writeFile(dir / "job", zipParameter(archive));
  writeFile(dir / "not-a-library/7z.so", "not a shared library");
  // The fakes end the process when called: refusing must happen before.
  for (const fs::path& library : {dir / "not-a-library/7z.so", fs::path(OLD_CONVENTION_ENGINE),
                                 fs::path(ENGINE_WITHOUT_CONVENTION), fs::path()}) {
    const fs::path program = dir / "bin" / std::to_string(fs::hash_value(library)) / "razadedezuzev";
    fs::create_directories(program.parent_path());
    fs::copy_file(RAZADEDEZUZEV_BINARY, program);
    if (!library.empty()) fs::copy_file(library, program.parent_path() / "7z.so", fs::copy_options::overwrite_existing);
    fs::remove(dir / "job.err");
    const int code = shell(quoted(program.string()) + " list_zip_entry " + quoted((dir / "job").string()));
    EXPECT_EQ(code, library.empty() ? 0 : 2) << library;
    EXPECT_EQ(pathExists(dir / "job.err") ? readFile(dir / "job.err") : "",
              library.empty() ? "" : "failed to create archive objectSetZipFilePath failed: " + archive.string() +
                                         "\nExecuteListZipEntry failed\n");
  }
}
