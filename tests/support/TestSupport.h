#pragma once

// Scratch directories, file helpers, and a runner for the built program.
//
// The end-to-end tests run either build: the POSIX program, or the Windows
// program under Wine (RAZADEDEZUZEV_TEST_TARGET=windows, see target()). What
// differs between them (how a job names a path, the separator the program
// writes, line ends, the system's error texts) comes from the target.

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace testsupport {

namespace fs = std::filesystem;

// The system errors whose texts tests expect in messages.
enum class SystemError { NotFound, PathNotFound, AccessDenied, InvalidArgument, IsADirectory };

struct Target {
  bool windows;
  std::vector<std::string> command;  // how to start the program
  char separator;                    // what the program writes between path parts
  // A path as a job file names it (Windows: with drive Z: and `\`).
  std::string jobPath(const fs::path& path) const;
  // The system's text for an error, with the "\n" that ends it.
  std::string text(SystemError error) const;
};
const Target& target();
// Shorthands: a path as the job names it, and the same path with parts
// joined by the program's separator ("a" + sep + "b").
std::string jobPath(const fs::path& path);
std::string sep();

// A fresh directory below the system's temporary directory, open to every
// user, removed with everything in it when the object goes.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  const fs::path& path() const { return root; }
  fs::path operator/(const std::string& name) const { return root / name; }
  // The path as a job file names it.
  std::string job(const std::string& name = {}) const;

 private:
  fs::path root;
};

void writeFile(const fs::path& path, const std::string& bytes);
std::string readFile(const fs::path& path);
bool pathExists(const fs::path& path);
// Bytes from a fixed-seed generator: the same for the same seed and size.
std::string randomBytes(std::size_t size, std::uint32_t seed);
// The MD5 of a file or of bytes as 32 lowercase hex digits (md5sum).
std::string md5Hex(const fs::path& file);
std::string md5OfBytes(const std::string& bytes);
// Fields joined by tabs, with a line end: one line of a job or a result.
std::string line(const std::vector<std::string>& fields);
// Runs a shell command; returns its exit status.
int shell(const std::string& command);
std::string quoted(const std::string& text);

struct RunResult {
  int exitCode = -1;
  std::string stdoutText;
  std::string out;  // <job>.out, empty when absent; line ends read as "\n"
  std::string err;  // <job>.err, likewise
  bool outExists = false;
  bool errExists = false;
  // The exit code, the result lines and the messages in one text, to be
  // compared with outcome() at once.
  std::string outcome() const;
};
std::string outcome(int exitCode, const std::string& out, const std::string& err);

struct RunOptions {
  std::map<std::string, std::string> environment;  // set for this run only
  bool unprivileged = false;                         // as user and group 65534
  int timeoutSeconds = 120;                          // killed after that
  // The largest file the run may write, in bytes (0: no limit). Writes past
  // it fail with "File too large" (EFBIG) instead of killing the process.
  std::uint64_t fileSizeLimit = 0;
  // How many file descriptors the run may have open (0: no limit).
  int descriptorLimit = 0;
};

// Runs `razadedezuzev <args...>` and collects the exit code, standard output
// and the files next to the job. `job` names the job file (may be empty).
// A file whose line ends are not the target's fails the test.
RunResult runProgram(const std::vector<std::string>& args, const fs::path& job,
                     const RunOptions& options = {});
// Writes `jobText` to dir/job, removes the .out and .err of any earlier run,
// and runs the mode on it.
RunResult runJob(const std::string& mode, const ScratchDir& dir, const std::string& jobText,
                 const RunOptions& options = {});

// A FUSE file system of the tests (support/faultfs.py) over a backing
// directory, mounted for the object's life. `options` are faultfs.py's.
class FaultFileSystem {
 public:
  FaultFileSystem(const fs::path& backing, const fs::path& mountPoint, const std::string& options);
  ~FaultFileSystem();
  FaultFileSystem(const FaultFileSystem&) = delete;
  FaultFileSystem& operator=(const FaultFileSystem&) = delete;
  bool mounted() const { return isMounted; }

 private:
  fs::path mountPoint;
  bool isMounted = false;
};

}  // namespace testsupport
