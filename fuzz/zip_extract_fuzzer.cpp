// Arbitrary bytes as the archive of the zip extraction modes, end to end:
// extract_from_zip and extract_from_zip_to_resource_store are each given
// the names a listing shows, as a server would pass them back. After the runs it checks that
//  - every result line has four fields, and names a file of that size and
//    MD5 digest (the destination, the stored file);
//  - nothing else is left in the output directory or the store: no
//    temporary file, no copy of a record that was not reported;
//  - where both modes report an entry, they report the same digest.

#include <openssl/evp.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "Scratch.h"
#include "Workers.h"
#include "Split.h"
#include "app/Application.h"
#include "base/Logger.h"
#include "platform/Utf.h"
#include "zip/ZipArchive.h"

namespace fs = std::filesystem;

namespace {

constexpr std::size_t kMaxRecords = 4;
constexpr std::size_t kMaxNameLength = 900;  // a record's line holds at most 1022 bytes

fs::path scratch;

void writeFile(const fs::path& path, const void* data, std::size_t size) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) std::abort();
  if (size > 0) std::fwrite(data, 1, size, file);
  std::fclose(file);
}

std::string readFile(const fs::path& path) {
  std::string text;
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return text;
  char buffer[65536];
  for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, file)) > 0;) text.append(buffer, got);
  std::fclose(file);
  return text;
}

std::string md5Hex(const std::string& bytes) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_md5(), nullptr) != 1) std::abort();
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string hex;
  for (unsigned int i = 0; i < length; ++i) hex += {kDigits[digest[i] >> 4], kDigits[digest[i] & 0xF]};
  return hex;
}

// Runs one mode on `job` in the scratch directory; the lines of job.out.
std::vector<std::string> runMode(const char* mode, const std::string& job) {
  writeFile(scratch / "job", job.data(), job.size());
  std::error_code ignored;
  fs::remove(scratch / "job.out", ignored);
  fs::remove(scratch / "job.err", ignored);
  RazaDedeZuzev::RazaDedeZuzevApplication application;
  const std::vector<std::u16string> arguments = {u"razadedezuzev", RazaDedeZuzev::platform::utf8ToUtf16(mode),
                                                 RazaDedeZuzev::platform::utf8ToUtf16((scratch / "job").string())};
  if (application.ParseArguments(arguments)) application.Run();
  const std::string text = readFile(scratch / "job.out");
  if (!text.empty() && text.back() != '\n') __builtin_trap();  // a cut line
  std::vector<std::string> lines = fuzzing::split(text, '\n');
  lines.pop_back();
  return lines;
}

std::string uuidOf(std::size_t record) {
  char uuid[40];
  std::snprintf(uuid, sizeof uuid, "%08zx-0000-4000-8000-000000000000", 0xab000000 + record * 0x10101);
  return uuid;
}

// The regular files below `root`.
std::set<fs::path> filesBelow(const fs::path& root) {
  std::set<fs::path> files;
  std::error_code ignored;
  for (auto it = fs::recursive_directory_iterator(root, ignored); it != fs::recursive_directory_iterator();
       it.increment(ignored)) {
    if (!it->is_directory()) files.insert(it->path());
  }
  return files;
}

// Checks the result lines of an extraction against the files they name;
// the digest reported per record.
std::map<std::size_t, std::string> checkExtraction(const std::vector<std::string>& lines, std::size_t records,
                                                   const fs::path& root,
                                                   fs::path (*fileOfRecord)(const fs::path&, std::size_t)) {
  std::map<std::string, std::size_t> recordOfUuid;
  for (std::size_t record = 0; record < records; ++record) recordOfUuid[uuidOf(record)] = record;
  std::map<std::size_t, std::string> digests;
  std::set<fs::path> reported;
  for (const std::string& line : lines) {
    const std::vector<std::string> fields = fuzzing::split(line, '\t');
    if (fields.size() != 4 || fields[0] != "file" || recordOfUuid.count(fields[1]) == 0) __builtin_trap();
    const std::size_t record = recordOfUuid[fields[1]];
    const fs::path file = fileOfRecord(root, record);
    const std::string content = readFile(file);
    if (std::to_string(content.size()) != fields[2] || md5Hex(content) != fields[3]) __builtin_trap();
    if (!digests.emplace(record, fields[3]).second) __builtin_trap();  // reported twice
    reported.insert(file);
  }
  if (filesBelow(root) != reported) __builtin_trap();  // a file no line reports
  return digests;
}

fs::path destinationOf(const fs::path& out, std::size_t record) { return out / std::to_string(record); }

fs::path storedFileOf(const fs::path& store, std::size_t record) {
  const std::string uuid = uuidOf(record);
  // Storage type 3 for odd records: three levels of two characters.
  fs::path directory = store / uuid.substr(0, 2) / uuid.substr(2, 2);
  if (record % 2 == 1) directory /= uuid.substr(4, 2);
  return directory / uuid;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  scratch = fuzzing::makeScratchDirectory("extract");
  ::setenv("NUV_RAZADEDEZUZEV_GET_MAX_RETRY_DURATION", "0", 1);
  ::setenv("NUV_RAZADEDEZUZEV_SYNC", "0", 1);  // nothing here needs the disk's work
  fuzzing::joinWorkersAtExit();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const fs::path archive = scratch / "in.zip", out = scratch / "out", store = scratch / "store";
  writeFile(archive, data, size);
  const std::string archiveLine = "zip_file_path\t" + archive.string() + "\n";

  // The names a listing gives (the listing itself is the zip_archive
  // target's): files, not hidden, that a line can carry.
  std::vector<std::string> names;
  {
    RazaDedeZuzev::Logger::GetInstance().errorFilePath = u"/dev/null";
    RazaDedeZuzev::AutoCloseLogger quiet;
    RazaDedeZuzev::ZipArchive reader;
    std::vector<RazaDedeZuzev::ZipEntry> entries;
    if (reader.SetZipFilePath(RazaDedeZuzev::platform::utf8ToUtf16(archive.string()))) reader.GetZipEntryList(entries);
    for (const RazaDedeZuzev::ZipEntry& entry : entries) {
      const std::string& name = entry.name;
      if (entry.isHidden || (!name.empty() && name.back() == '/') || name.size() > kMaxNameLength ||
          name.find_first_of(std::string("\t\r\n\0", 4)) != std::string::npos) {
        continue;
      }
      if (names.size() < kMaxRecords) names.push_back(name);
    }
  }
  if (names.empty()) return 0;

  std::string toDirectory = archiveLine + "output_base_dir_path\t" + out.string() + "\n";
  std::string toStore = archiveLine;
  for (std::size_t record = 0; record < names.size(); ++record) {
    const std::string uuid = uuidOf(record);
    toDirectory += "file\t" + uuid + "\t" + names[record] + "\t" + std::to_string(record) + "\n";
    toStore += "file\t" + uuid + "\t" + names[record] + "\tunused\t" + store.string() +
               (record % 2 == 1 ? "\t3\n" : "\t1\n");
  }
  const auto extracted = checkExtraction(runMode("extract_from_zip", toDirectory), names.size(), out, destinationOf);
  const auto stored = checkExtraction(runMode("extract_from_zip_to_resource_store", toStore), names.size(), store,
                                      storedFileOf);
  for (const auto& [record, digest] : extracted) {
    const auto other = stored.find(record);
    if (other != stored.end() && other->second != digest) __builtin_trap();  // one entry, two digests
  }

  std::error_code ignored;
  fs::remove_all(out, ignored);
  fs::remove_all(store, ignored);
  return 0;
}
