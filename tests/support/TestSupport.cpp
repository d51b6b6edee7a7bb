#include "support/TestSupport.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

namespace testsupport {
namespace {

Target makeTarget() {
  // The Windows program runs under Wine (scripts/windows-test.sh sets these).
  const char* kind = std::getenv("RAZADEDEZUZEV_TEST_TARGET");
  if (kind == nullptr || std::string(kind) != "windows") return Target{false, {RAZADEDEZUZEV_BINARY}, '/'};
  return Target{true, {"/usr/lib/wine/wine64", std::getenv("RAZADEDEZUZEV_TEST_PROGRAM")}, '\\'};
}

std::string capture(const std::string& command) {
  std::string text;
  FILE* pipe = ::popen(command.c_str(), "r");
  char buffer[4096];
  for (std::size_t got; pipe != nullptr && (got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) {
    text.append(buffer, got);
  }
  if (pipe != nullptr) ::pclose(pipe);
  return text;
}

// The text with the target's line ends read as "\n"; a line end of another
// kind fails the test.
std::string withLineFeeds(const std::string& text, const std::string& what) {
  std::string lines;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const bool afterCr = text[i] == '\n' && i > 0 && text[i - 1] == '\r';
    EXPECT_TRUE(text[i] != '\n' || afterCr == target().windows) << "line end in " << what;
    if (afterCr && target().windows) lines.pop_back();
    lines.push_back(text[i]);
  }
  return lines;
}

}  // namespace

const Target& target() {
  static const Target instance = makeTarget();
  return instance;
}

std::string Target::jobPath(const fs::path& path) const {
  if (!windows) return path.string();
  std::string mapped = "Z:" + path.string();
  for (char& c : mapped) c = c == '/' ? '\\' : c;
  return mapped;
}

std::string Target::text(SystemError error) const {
  // Wine's texts, where they differ from those of Windows; the CR of the
  // system's own line end survives the file's line-end translation.
  static const char* const kTexts[][2] = {
      {"No such file or directory\n", "File not found.\r\n"},
      {"No such file or directory\n", "Path not found.\r\n"},
      {"Permission denied\n", "Access denied.\r\n"},
      {"Invalid argument\n", "Invalid parameter.\r\n"},
      {"Is a directory\n", "Access denied.\r\n"}};
  return kTexts[static_cast<int>(error)][windows ? 1 : 0];
}

std::string jobPath(const fs::path& path) { return target().jobPath(path); }
std::string sep() { return {target().separator}; }

ScratchDir::ScratchDir() {
  std::string pattern = (fs::temp_directory_path() / "razadedezuzev-test-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  root = pattern;
  fs::permissions(root, fs::perms::all);  // runs as another user reach it
}

ScratchDir::~ScratchDir() {
  // Restore rights that a test may have taken away, then remove.
  shell("chmod -R u+rwx " + quoted(root.string()) + " 2>/dev/null");
  std::error_code ignored;
  fs::remove_all(root, ignored);
}

std::string ScratchDir::job(const std::string& name) const {
  return jobPath(name.empty() ? root : root / name);
}

void writeFile(const fs::path& path, const std::string& bytes) {
  if (path.has_parent_path()) fs::create_directories(path.parent_path());
  std::ofstream stream(path, std::ios::binary | std::ios::trunc);
  stream.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!stream) throw std::runtime_error("cannot write " + path.string());
}

std::string readFile(const fs::path& path) {
  std::ifstream stream(path, std::ios::binary);
  std::ostringstream text;
  text << stream.rdbuf();  // nothing, for a directory
  return text.str();
}

bool pathExists(const fs::path& path) {
  std::error_code ignored;
  return fs::exists(fs::symlink_status(path, ignored));
}

std::string randomBytes(std::size_t size, std::uint32_t seed) {
  std::mt19937 generator(seed);
  std::string bytes(size, '\0');
  for (char& byte : bytes) byte = static_cast<char>(generator() & 0xFF);
  return bytes;
}

std::string quoted(const std::string& text) {
  std::string result = "'";
  for (char c : text) result += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return result + "'";
}

std::string md5Hex(const fs::path& file) { return capture("md5sum " + quoted(file.string())).substr(0, 32); }

std::string md5OfBytes(const std::string& bytes) {
  const ScratchDir dir;
  writeFile(dir / "bytes", bytes);
  return md5Hex(dir / "bytes");
}

std::string line(const std::vector<std::string>& fields) {
  std::string text;
  for (const std::string& field : fields) text += (text.empty() ? "" : "\t") + field;
  return text + "\n";
}

int shell(const std::string& command) {
  const int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string outcome(int exitCode, const std::string& out, const std::string& err) {
  return "exit code " + std::to_string(exitCode) + "\n--- result file\n" + out + "--- error file\n" + err;
}

std::string RunResult::outcome() const { return testsupport::outcome(exitCode, out, err); }

RunResult runProgram(const std::vector<std::string>& args, const fs::path& job,
                     const RunOptions& options) {
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

RunResult runJob(const std::string& mode, const ScratchDir& dir, const std::string& jobText,
                 const RunOptions& options) {
  const fs::path job = dir / "job";
  writeFile(job, jobText);
  // What an earlier run left must not pass for this run's files.
  fs::remove(job.string() + ".out");
  fs::remove(job.string() + ".err");
  if (options.unprivileged) fs::permissions(job, fs::perms::all);
  return runProgram({mode, jobPath(job)}, job, options);
}

FaultFileSystem::FaultFileSystem(const fs::path& backing, const fs::path& mountPoint,
                                 const std::string& options)
    : mountPoint(mountPoint) {
  fs::create_directories(backing);
  fs::create_directories(mountPoint);
  shell("/usr/bin/python3 " + quoted(FAULT_FILE_SYSTEM_SCRIPT) + " " + quoted(backing.string()) + " " +
        quoted(mountPoint.string()) + " " + options + " > /dev/null 2>&1 &");
  for (int wait = 0; wait < 100 && !isMounted; ++wait) {
    isMounted = readFile("/proc/self/mounts").find(" " + mountPoint.string() + " fuse") != std::string::npos;
    if (!isMounted) shell("sleep 0.05");
  }
}

FaultFileSystem::~FaultFileSystem() {
  if (isMounted) shell("umount " + quoted(mountPoint.string()));
}

}  // namespace testsupport
