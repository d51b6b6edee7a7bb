#pragma once

// Archives for the zip tests, made at test time.

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

}  // namespace ziptest
