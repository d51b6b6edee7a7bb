#include "support/TestSupport.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

namespace testsupport {
namespace {

Target makeTarget() {
  Target target;
  const char* kind = std::getenv("RAZADEDEZUZEV_TEST_TARGET");
  if (kind != nullptr && std::string(kind) == "windows") {
    // The Windows program under Wine (scripts/windows-test.sh sets these).
    target.windows = true;
    target.separator = '\\';
    target.command = {"/usr/lib/wine/wine64", std::getenv("RAZADEDEZUZEV_TEST_PROGRAM")};
  } else {
    target.command = {RAZADEDEZUZEV_BINARY};
  }
  return target;
}

std::string capture(const std::string& command) {
  std::string text;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return text;
  std::array<char, 4096> buffer{};
  std::size_t got;
  while ((got = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0) text.append(buffer.data(), got);
  ::pclose(pipe);
  return text;
}

// The file's text with the target's line ends read as "\n"; a line end of
// another kind fails the test.
std::string readTextFile(const fs::path& path) {
  std::string text = readFile(path);
  if (!target().windows) {
    EXPECT_EQ(text.find("\r\n"), std::string::npos) << path;
    return text;
  }
  std::string lines;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    if (text[i] == '\n') {
      EXPECT_TRUE(i > 0 && text[i - 1] == '\r') << "bare LF in " << path;
    }
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
  switch (error) {
    case SystemError::NotFound:
      return windows ? "The system cannot find the file specified.\n" : "No such file or directory\n";
    case SystemError::PathNotFound:
      return windows ? "The system cannot find the path specified.\n" : "No such file or directory\n";
    case SystemError::AccessDenied:
      return windows ? "Access is denied.\n" : "Permission denied\n";
    case SystemError::InvalidArgument:
      return windows ? "The parameter is incorrect.\n" : "Invalid argument\n";
    case SystemError::IsADirectory:
      return windows ? "Access is denied.\n" : "Is a directory\n";
  }
  return {};
}

std::string jobPath(const fs::path& path) { return target().jobPath(path); }
std::string sep() { return std::string(1, target().separator); }

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
  text << stream.rdbuf();
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

std::string md5Hex(const fs::path& file) {
  return capture("md5sum " + quoted(file.string())).substr(0, 32);
}

std::string md5OfBytes(const std::string& bytes) {
  char pattern[] = "/tmp/razadedezuzev-md5-XXXXXX";
  const int descriptor = ::mkstemp(pattern);
  if (descriptor >= 0) ::close(descriptor);
  writeFile(pattern, bytes);
  const std::string digest = md5Hex(pattern);
  fs::remove(pattern);
  return digest;
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
  command += "; echo \"\n$?\"";

  RunResult result;
  const std::string text = capture(command);
  // The last line is the exit code; before it, the program's own output.
  const std::size_t codeLine = text.rfind('\n', text.size() - 2);
  result.exitCode = std::stoi(text.substr(codeLine + 1));
  result.stdoutText = text.substr(0, codeLine);
  if (target().windows) {
    std::string lf;
    for (char c : result.stdoutText) if (c != '\r') lf.push_back(c);
    result.stdoutText = lf;
  }
  if (!job.empty()) {
    const fs::path out = job.string() + ".out";
    const fs::path err = job.string() + ".err";
    result.outExists = pathExists(out);
    result.errExists = pathExists(err);
    if (result.outExists) result.out = readTextFile(out);
    if (result.errExists) result.err = readTextFile(err);
  }
  return result;
}

RunResult runJob(const std::string& mode, const ScratchDir& dir, const std::string& jobText,
                 const RunOptions& options) {
  const fs::path job = dir / "job";
  writeFile(job, jobText);
  // What an earlier run left must not pass for this run's files.
  std::error_code ignored;
  fs::remove(job.string() + ".out", ignored);
  fs::remove(job.string() + ".err", ignored);
  if (options.unprivileged) fs::permissions(job, fs::perms::all);
  return runProgram({mode, jobPath(job)}, job, options);
}

}  // namespace testsupport
