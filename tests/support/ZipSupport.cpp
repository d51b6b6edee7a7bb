#include "support/ZipSupport.h"

#include <stdexcept>

using namespace testsupport;

namespace ziptest {
namespace {

std::string quoted(const fs::path& path) { return "'" + path.string() + "'"; }

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
  run("python3 " + quoted(ZIP_TEST_ARCHIVE_SCRIPT) + " " + kind + " " + quoted(archive));
  return archive;
}

fs::path makeZipCryptoArchive(const ScratchDir& dir) {
  const fs::path archive = dir / "zipcrypto.zip";
  run("cd " + quoted(makeSecret(dir)) + " && zip -q -P secret " + quoted(archive) +
      " secret.bin");
  return archive;
}

fs::path makeAesArchive(const ScratchDir& dir) {
  const fs::path archive = dir / "aes.zip";
  run("cd " + quoted(makeSecret(dir)) + " && 7z a -bd -tzip -psecret -mem=AES256 " +
      quoted(archive) + " secret.bin > /dev/null");
  return archive;
}

std::string zipParameter(const fs::path& archive) {
  return "zip_file_path\t" + archive.string() + "\n";
}

std::string resultLine(const std::string& uuid, std::uint64_t size, const std::string& digest) {
  return "file\t" + uuid + "\t" + std::to_string(size) + "\t" + digest + "\n";
}

void unzipEntry(const fs::path& archive, const std::string& name, const fs::path& destination) {
  run("unzip -p " + quoted(archive) + " '" + name + "' > " + quoted(destination));
}

RunResult runCopiedProgram(const fs::path& directory, const std::string& mode,
                           const ScratchDir& dir, const std::string& jobText) {
  const fs::path program = directory / "razadedezuzev";
  fs::copy_file(RAZADEDEZUZEV_BINARY, program, fs::copy_options::overwrite_existing);
  const fs::path job = dir / "job";
  writeFile(job, jobText);
  RunResult result;
  result.exitCode =
      shell("timeout -s KILL 60 " + quoted(program) + " " + mode + " " + quoted(job) + " > /dev/null");
  result.outExists = pathExists(job.string() + ".out");
  result.errExists = pathExists(job.string() + ".err");
  if (result.outExists) result.out = readFile(job.string() + ".out");
  if (result.errExists) result.err = readFile(job.string() + ".err");
  return result;
}

}  // namespace ziptest
