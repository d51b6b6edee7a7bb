#pragma once

// Scratch directories, file helpers, and a runner for the built program.
//
// The end-to-end tests run either build: the POSIX program, or the Windows
// program under Wine (RAZADEDEZUZEV_TEST_TARGET=windows, see target()). What
// differs between them (how a job names a path, the separator the program
// writes, line ends, the system's error texts) comes from the target.

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "base/Logger.h"

namespace testsupport {

namespace fs = std::filesystem;

// Runs a shell command; returns its exit status.
inline int shell(const std::string& command) {
  const int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}
// Runs a shell command; returns what it printed.
inline std::string capture(const std::string& command) {
  std::string text;
  FILE* pipe = ::popen(command.c_str(), "r");
  char buffer[4096];
  for (std::size_t got; pipe != nullptr && (got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) text.append(buffer, got);
  if (pipe != nullptr) ::pclose(pipe);
  return text;
}
inline std::string quoted(const std::string& text) {
  std::string result = "'";
  for (char c : text) result += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return result + "'";
}

// The system errors whose texts tests expect in messages.
enum class SystemError { NotFound, PathNotFound, AccessDenied, InvalidArgument, IsADirectory };

struct Target {
  bool windows;
  std::vector<std::string> command;  // how to start the program
  char separator;                    // what the program writes between path parts
  // Windows: a folder that a share maps, and the share as jobs name it
  // (`\\server\share` or `\\?\UNC\server\share`); empty for drive Z:.
  std::string shareFolder, share;

  // A path as a job file names it (Windows: with drive Z: and `\`, or below
  // the share where the path lies in the folder it maps).
  std::string jobPath(const fs::path& path) const {
    if (!windows) return path.string();
    const std::string text = path.string();
    const bool shared = !share.empty() && text.starts_with(shareFolder + "/");
    std::string mapped = shared ? share + text.substr(shareFolder.size()) : "Z:" + text;
    for (char& c : mapped) c = c == '/' ? '\\' : c;
    return mapped;
  }
  // A share of the same server that is not there (empty without a share).
  std::string absentShare() const { return share.empty() ? "" : share.substr(0, share.rfind('\\')) + "\\absent"; }
  // The system's text for an error, with the "\n" that ends it: Wine's,
  // where they differ from those of Windows; the CR of the system's own line
  // end survives the file's line-end translation.
  std::string text(SystemError error) const {
    static const char* const kTexts[][2] = {{"No such file or directory\n", "File not found.\r\n"},
                                            {"No such file or directory\n", "Path not found.\r\n"},
                                            {"Permission denied\n", "Access denied.\r\n"},
                                            {"Invalid argument\n", "Invalid parameter.\r\n"},
                                            {"Is a directory\n", "Access denied.\r\n"}};
    return kTexts[static_cast<int>(error)][windows ? 1 : 0];
  }
};
inline const Target& target() {
  // The Windows program runs under Wine (scripts/windows-test.sh sets these).
  static const Target instance = [] {
    const char* kind = std::getenv("RAZADEDEZUZEV_TEST_TARGET");
    if (kind == nullptr || std::string(kind) != "windows") return Target{false, {RAZADEDEZUZEV_BINARY}, '/', {}, {}};
    // A share row of scripts/windows-test.sh: "<folder>=<share>".
    const char* shareSetting = std::getenv("RAZADEDEZUZEV_TEST_SHARE");
    const std::string share = shareSetting == nullptr ? "" : shareSetting;
    const std::size_t equals = share.find('=');
    return Target{true, {"/usr/lib/wine/wine64", std::getenv("RAZADEDEZUZEV_TEST_PROGRAM")}, '\\',
                  share.substr(0, equals), equals == std::string::npos ? "" : share.substr(equals + 1)};
  }();
  return instance;
}
// Shorthands: a path as the job names it, and the separator the program
// joins path parts with.
inline std::string jobPath(const fs::path& path) { return target().jobPath(path); }
inline std::string sep() { return {target().separator}; }

// A fresh directory below the system's temporary directory (or the folder
// RAZADEDEZUZEV_TEST_SCRATCH names: a row of scripts/windows-test.sh), open to
// every user, removed with everything in it when the object goes.
class ScratchDir {
 public:
  ScratchDir() {
    const char* place = std::getenv("RAZADEDEZUZEV_TEST_SCRATCH");
    const fs::path base = place != nullptr && *place != '\0' ? fs::path(place) : fs::temp_directory_path();
    std::string pattern = (base / "razadedezuzev-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    root = pattern;
    fs::permissions(root, fs::perms::all);  // runs as another user reach it
  }
  ~ScratchDir() {
    // Restore rights that a test may have taken away, then remove.
    shell("chmod -R u+rwx " + quoted(root.string()) + " 2>/dev/null");
    std::error_code ignored;
    fs::remove_all(root, ignored);
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  const fs::path& path() const { return root; }
  fs::path operator/(const std::string& name) const { return root / name; }
  // The path as a job file names it.
  std::string job(const std::string& name = {}) const { return jobPath(name.empty() ? root : root / name); }

 private:
  fs::path root;
};

inline void writeFile(const fs::path& path, const std::string& bytes) {
  if (path.has_parent_path()) fs::create_directories(path.parent_path());
  std::ofstream stream(path, std::ios::binary | std::ios::trunc);
  stream.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!stream) throw std::runtime_error("cannot write " + path.string());
}
inline std::string readFile(const fs::path& path) {
  std::ifstream stream(path, std::ios::binary);
  std::ostringstream text;
  text << stream.rdbuf();  // nothing, for a directory
  return text.str();
}
inline bool pathExists(const fs::path& path) {
  std::error_code ignored;
  return fs::exists(fs::symlink_status(path, ignored));
}
// Bytes from a fixed-seed generator: the same for the same seed and size.
inline std::string randomBytes(std::size_t size, std::uint32_t seed) {
  std::mt19937 generator(seed);
  std::string bytes(size, '\0');
  for (char& byte : bytes) byte = static_cast<char>(generator() & 0xFF);
  return bytes;
}
// The MD5 of a file or of bytes as 32 lowercase hex digits (md5sum).
inline std::string md5Hex(const fs::path& file) { return capture("md5sum " + quoted(file.string())).substr(0, 32); }
inline std::string md5OfBytes(const std::string& bytes) {
  const ScratchDir dir;
  writeFile(dir / "bytes", bytes);
  return md5Hex(dir / "bytes");
}

// Fields joined by tabs, with a line end: one line of a job or a result.
inline std::string line(const std::vector<std::string>& fields) {
  std::string text;
  for (const std::string& field : fields) text += (text.empty() ? "" : "\t") + field;
  return text + "\n";
}
// The result line of a copy: "file", uuid, size, digest.
inline std::string resultLine(const std::string& uuid, std::uint64_t size, const std::string& digest) {
  return line({"file", uuid, std::to_string(size), digest});
}
// Writes an archive of the named kind (see make_test_archive.py) as
// dir/<kind>.zip; and the parameter that names an archive in a job.
inline fs::path makeArchive(const ScratchDir& dir, const std::string& kind) {
  const fs::path archive = dir / (kind + ".zip");
  const std::string command = "python3 " + quoted(ZIP_TEST_ARCHIVE_SCRIPT) + " " + kind + " " + quoted(archive.string());
  if (shell(command) != 0) throw std::runtime_error("failed: " + command);
  return archive;
}
inline std::string zipParameter(const fs::path& archive) { return line({"zip_file_path", jobPath(archive)}); }
// The line a failed run of a mode ends its error file with, from the table
// of the modes that the harnesses read too.
inline std::string failureLine(const std::string& mode) {
  std::ifstream table(MODE_TABLE);
  for (std::string row; std::getline(table, row);) {
    const std::size_t tab = row.find('\t'), end = row.find('\t', tab + 1);
    if (row.substr(0, tab) == mode) return row.substr(tab + 1, end - tab - 1) + "\n";
  }
  throw std::runtime_error("no such mode: " + mode);
}

// The exit code, the result lines and the messages in one text, so that a
// test compares them at once.
inline std::string outcome(int exitCode, const std::string& out, const std::string& err) {
  return "exit code " + std::to_string(exitCode) + "\n--- result file\n" + out + "--- error file\n" + err;
}

struct RunResult {
  int exitCode = -1;
  std::string stdoutText;
  std::string out;  // <job>.out, empty when absent; line ends read as "\n"
  std::string err;  // <job>.err, likewise
  bool outExists = false;
  bool errExists = false;
  // An error file that exists but is empty tells a message-less run from a
  // silent one: it shows as such.
  std::string outcome() const {
    return testsupport::outcome(exitCode, out, errExists && err.empty() ? "(an empty error file)" : err);
  }
};

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

// The text with the target's line ends read as "\n"; a line end of another
// kind fails the test.
inline std::string withLineFeeds(const std::string& text, const std::string& what) {
  std::string lines;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const bool afterCr = text[i] == '\n' && i > 0 && text[i - 1] == '\r';
    EXPECT_TRUE(text[i] != '\n' || afterCr == target().windows) << "line end in " << what;
    if (afterCr && target().windows) lines.pop_back();
    lines.push_back(text[i]);
  }
  return lines;
}

// Runs `razadedezuzev <args...>` and collects the exit code, standard output
// and the files next to the job. `job` names the job file (may be empty).
inline RunResult runProgram(const std::vector<std::string>& args, const fs::path& job, const RunOptions& options = {}) {
  std::string command = "env";
  for (const auto& [name, value] : options.environment) command += " " + name + "=" + quoted(value);
  command += " timeout -s KILL " + std::to_string(options.timeoutSeconds);
  if (options.unprivileged) command += " setpriv --reuid=65534 --regid=65534 --clear-groups";
  if (options.descriptorLimit != 0) {
    // Descriptors the test runner passed on would count against the limit:
    // the run starts with standard input, output and error only.
    const std::string limit = std::to_string(options.descriptorLimit);
    command += " prlimit --nofile=" + limit + ":" + limit +
               " -- bash -c 'for fd in /proc/self/fd/*; do fd=${fd##*/};"
               " [ $fd -gt 2 ] && eval \"exec $fd<&-\"; done; exec \"$0\" \"$@\"'";
  }
  if (options.fileSizeLimit != 0) {
    // An ignored signal stays ignored across exec: the limit then shows as
    // a failing write instead of SIGXFSZ.
    const std::string limit = std::to_string(options.fileSizeLimit);
    command += " prlimit --fsize=" + limit + ":" + limit + " -- bash -c 'trap \"\" XFSZ; exec \"$0\" \"$@\"'";
  }
  for (const std::string& part : target().command) command += " " + quoted(part);
  for (const std::string& arg : args) command += " " + quoted(arg);
  const std::string text = capture(command + "; echo \"\n$?\"");
  // The last line is the exit code; before it, the program's own output.
  const std::size_t codeLine = text.rfind('\n', text.size() - 2);
  RunResult result;
  result.exitCode = std::stoi(text.substr(codeLine + 1));
  result.stdoutText = withLineFeeds(text.substr(0, codeLine), "standard output");
  for (auto [file, exists, text] : {std::tuple{".out", &result.outExists, &result.out},
                                    std::tuple{".err", &result.errExists, &result.err}}) {
    *exists = !job.empty() && pathExists(job.string() + file);
    if (*exists) *text = withLineFeeds(readFile(job.string() + file), file);
  }
  return result;
}
// Writes `jobText` to dir/job, removes the .out and .err of any earlier run
// (they must not pass for this run's), and runs the mode on it.
inline RunResult runJob(const std::string& mode, const ScratchDir& dir, const std::string& jobText,
                        const RunOptions& options = {}) {
  const fs::path job = dir / "job";
  writeFile(job, jobText);
  fs::remove(job.string() + ".out");
  fs::remove(job.string() + ".err");
  if (options.unprivileged) fs::permissions(job, fs::perms::all);
  return runProgram({mode, jobPath(job)}, job, options);
}

// A FUSE file system of the tests (support/faultfs.py) over a backing
// directory, mounted for the object's life. `options` are faultfs.py's.
class FaultFileSystem {
 public:
  FaultFileSystem(const fs::path& backing, const fs::path& mountPoint, const std::string& options)
      : mountPoint(mountPoint) {
    fs::create_directories(backing);
    fs::create_directories(mountPoint);
    shell("/usr/bin/python3 " + quoted(FAULT_FILE_SYSTEM_SCRIPT) + " " + quoted(backing.string()) + " " +
          quoted(mountPoint.string()) + " " + options + " > /dev/null 2>&1 & echo $! > " +
          quoted(mountPoint.string() + ".pid"));
    for (int wait = 0; wait < 100 && !isMounted; ++wait) {
      isMounted = readFile("/proc/self/mounts").find(" " + mountPoint.string() + " fuse") != std::string::npos;
      if (!isMounted) shell("sleep 0.05");
    }
  }
  ~FaultFileSystem() {
    if (isMounted) shell("umount " + quoted(mountPoint.string()));
  }
  FaultFileSystem(const FaultFileSystem&) = delete;
  FaultFileSystem& operator=(const FaultFileSystem&) = delete;
  bool mounted() const { return isMounted; }
  // The server dies: every call it holds fails, and so does every later one.
  void kill() const { shell("kill -9 $(cat " + quoted(mountPoint.string() + ".pid") + ")"); }

 private:
  fs::path mountPoint;
  bool isMounted = false;
};

// Collects what the Logger writes while `action` runs, by attaching a scratch
// error file the way a run does.
inline std::string captureLog(const std::function<void()>& action) {
  ScratchDir dir;
  RazaDedeZuzev::Logger::GetInstance().errorFilePath = (dir / "log.err").u16string();
  {
    RazaDedeZuzev::AutoCloseLogger guard;
    action();
  }
  return readFile(dir / "log.err");
}

}  // namespace testsupport
