#include "support/ZipSupport.h"

#include <stdexcept>

using namespace testsupport;

namespace ziptest {
namespace {

void run(const std::string& command) {
  if (shell(command) != 0) throw std::runtime_error("failed: " + command);
}

fs::path makeSecret(const ScratchDir& dir) {
  writeFile(dir / "src/secret.bin", randomBytes(1000, 42));
  return dir / "src";
}

}  // namespace

fs::path makeArchive(const ScratchDir& dir, const std::string& kind) {
  const fs::path archive = dir / (kind + ".zip");
  run("python3 " + quoted(ZIP_TEST_ARCHIVE_SCRIPT) + " " + kind + " " + quoted(archive.string()));
  return archive;
}

fs::path makeZipCryptoArchive(const ScratchDir& dir) {
  const fs::path archive = dir / "zipcrypto.zip";
  run("cd " + quoted(makeSecret(dir).string()) + " && zip -q -P secret " + quoted(archive.string()) +
      " secret.bin");
  return archive;
}

fs::path makeAesArchive(const ScratchDir& dir) {
  const fs::path archive = dir / "aes.zip";
  run("cd " + quoted(makeSecret(dir).string()) + " && 7z a -bd -tzip -psecret -mem=AES256 " +
      quoted(archive.string()) + " secret.bin > /dev/null");
  return archive;
}

std::string zipParameter(const fs::path& archive) {
  return line({"zip_file_path", jobPath(archive)});
}

std::string resultLine(const std::string& uuid, std::uint64_t size, const std::string& digest) {
  return line({"file", uuid, std::to_string(size), digest});
}

}  // namespace ziptest
