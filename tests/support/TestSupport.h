#pragma once

// Scratch directories, file helpers and a runner for the built program.

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace testsupport {

namespace fs = std::filesystem;

// A fresh directory below the system's temporary directory, removed with
// everything in it when the object goes.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  const fs::path& path() const { return root; }
  fs::path operator/(const std::string& name) const { return root / name; }
  // A path as text, for job files.
  std::string str(const std::string& name = {}) const;

 private:
  fs::path root;
};

void writeFile(const fs::path& path, const std::string& bytes);
std::string readFile(const fs::path& path);
bool pathExists(const fs::path& path);
// Bytes from a fixed-seed generator: the same for the same seed and size.
std::string randomBytes(std::size_t size, std::uint32_t seed);
// The MD5 of bytes as 32 lowercase hex digits, from the md5sum command.
std::string md5Hex(const fs::path& file);

struct RunResult {
  int exitCode = -1;
  std::string stdoutText;
  std::string out;  // <job>.out, empty when absent
  std::string err;  // <job>.err, empty when absent
  bool outExists = false;
  bool errExists = false;
};

struct RunOptions {
  std::map<std::string, std::string> environment;  // set for this run only
  bool unprivileged = false;                         // as user and group 65534
  int timeoutSeconds = 120;                          // killed after that
  // The largest file the run may write, in bytes (0: no limit). Writes past
  // it fail with "File too large" (EFBIG) instead of killing the process.
  std::uint64_t fileSizeLimit = 0;
  // How many file descriptors the run may have open (0: no limit); opening
  // more fails with "Too many open files" (EMFILE).
  int descriptorLimit = 0;
};

// Runs `razadedezuzev <args...>` and collects the exit code, standard output
// and the files next to the job. `job` names the job file (may be empty).
RunResult runProgram(const std::vector<std::string>& args, const fs::path& job,
                     const RunOptions& options = {});
// Shorthand: writes `jobText` to dir/job, removes the .out and .err of any
// earlier run, and runs the mode on it.
RunResult runJob(const std::string& mode, const ScratchDir& dir, const std::string& jobText,
                 const RunOptions& options = {});

// Runs a shell command; returns its exit status.
int shell(const std::string& command);

}  // namespace testsupport
