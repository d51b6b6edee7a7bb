#pragma once

// Archives for the zip tests, made at test time, and a runner for a copy of
// the program placed next to a library of our choosing.

#include <cstdint>
#include <string>

#include "support/TestSupport.h"

namespace ziptest {

namespace fs = std::filesystem;

// Writes an archive of the named kind (see make_test_archive.py).
fs::path makeArchive(const testsupport::ScratchDir& dir, const std::string& kind);

// Encrypted archives made by the zip and 7z commands, each holding
// secret.bin (1,000 bytes) under the password "secret".
fs::path makeZipCryptoArchive(const testsupport::ScratchDir& dir);
fs::path makeAesArchive(const testsupport::ScratchDir& dir);

// "zip_file_path\t<path>\n".
std::string zipParameter(const fs::path& archive);

// The result line of an extraction: "file", uuid, size, digest.
std::string resultLine(const std::string& uuid, std::uint64_t size, const std::string& digest);

// The entry's bytes as unzip extracts them, written to `destination`.
void unzipEntry(const fs::path& archive, const std::string& name, const fs::path& destination);

// Runs a copy of the program that lies in `directory` (copied there first)
// the way runJob runs the built one.
testsupport::RunResult runCopiedProgram(const fs::path& directory, const std::string& mode,
                                        const testsupport::ScratchDir& dir,
                                        const std::string& jobText);

}  // namespace ziptest
