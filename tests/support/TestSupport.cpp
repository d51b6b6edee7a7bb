#include "support/TestSupport.h"

#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

namespace testsupport {

ScratchDir::ScratchDir() {
  std::string pattern = (fs::temp_directory_path() / "razadedezuzev-test-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  root = pattern;
  // Open to everyone, so that runs as an unprivileged user can reach it.
  fs::permissions(root, fs::perms::all);
}

ScratchDir::~ScratchDir() {
  // Restore rights that a test may have taken away, then remove.
  shell("chmod -R u+rwx '" + root.string() + "' 2>/dev/null");
  std::error_code ignored;
  fs::remove_all(root, ignored);
}

std::string ScratchDir::str(const std::string& name) const {
  return name.empty() ? root.string() : (root / name).string();
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

static std::string capture(const std::string& command) {
  std::string text;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return text;
  std::array<char, 4096> buffer{};
  std::size_t got;
  while ((got = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0) text.append(buffer.data(), got);
  ::pclose(pipe);
  return text;
}

static std::string quote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) {
    if (c == '\'') quoted += "'\\''";
    else quoted += c;
  }
  return quoted + "'";
}

std::string md5Hex(const fs::path& file) {
  return capture("md5sum " + quote(file.string())).substr(0, 32);
}

int shell(const std::string& command) {
  const int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

RunResult runProgram(const std::vector<std::string>& args, const fs::path& job,
                     const RunOptions& options) {
  std::string command = "env";
  for (const auto& [name, value] : options.environment) command += " " + name + "=" + quote(value);
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
  command += " " + quote(RAZADEDEZUZEV_BINARY);
  for (const std::string& arg : args) command += " " + quote(arg);
  command += "; echo \"\n$?\"";

  RunResult result;
  std::string text = capture(command);
  // The last line is the exit code; before it, the program's own output.
  const std::size_t codeLine = text.rfind('\n', text.size() - 2);
  result.exitCode = std::stoi(text.substr(codeLine + 1));
  result.stdoutText = text.substr(0, codeLine);
  if (!job.empty()) {
    const fs::path out = job.string() + ".out";
    const fs::path err = job.string() + ".err";
    result.outExists = pathExists(out);
    result.errExists = pathExists(err);
    if (result.outExists) result.out = readFile(out);
    if (result.errExists) result.err = readFile(err);
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
  return runProgram({mode, job.string()}, job, options);
}

}  // namespace testsupport
