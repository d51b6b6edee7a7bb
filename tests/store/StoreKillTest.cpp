// A store run killed at any moment leaves either no stored file or a
// complete one, and running the job again completes it.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <thread>

#include "support/TestSupport.h"

namespace {

using namespace testsupport;

constexpr const char* kUuid = "4f3e2d1c-0000-4e11-8d3b-5a6f0c9e7d21";
constexpr std::size_t kSourceSize = 256u * 1024 * 1024;

pid_t startProgram(const std::string& mode, const fs::path& job) {
  const pid_t child = ::fork();
  if (child == 0) {
    ::execl(RAZADEDEZUZEV_BINARY, RAZADEDEZUZEV_BINARY, mode.c_str(), job.c_str(),
            static_cast<char*>(nullptr));
    ::_exit(127);
  }
  return child;
}

// Bytes the process has written so far, from the kernel's I/O accounting.
std::uint64_t bytesWritten(pid_t process) {
  std::ifstream io("/proc/" + std::to_string(process) + "/io");
  std::string key;
  std::uint64_t value = 0;
  while (io >> key >> value) {
    if (key == "wchar:") return value;
  }
  return 0;
}

// Kills the run once it has written `threshold` bytes; false when it ended
// on its own before that.
bool killAfterWriting(pid_t process, std::uint64_t threshold) {
  while (bytesWritten(process) < threshold) {
    int status = 0;
    if (::waitpid(process, &status, WNOHANG) == process) return false;
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  ::kill(process, SIGKILL);
  int status = 0;
  ::waitpid(process, &status, 0);
  return WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
}

TEST(StoreKilled, LeavesNoPartialStoredFileAndARerunCompletes) {
  ScratchDir dir;
  writeFile(dir / "in/big.bin", randomBytes(kSourceSize, 11));
  const std::string digest = md5Hex(dir / "in/big.bin");
  const fs::path storageDirectory = dir / "store/4f/3e";
  const fs::path stored = storageDirectory / kUuid;
  const fs::path job = dir / "job";
  writeFile(job, "input_base_dir_path\t" + dir.str("in") + "\nfile\t" + kUuid + "\tbig.bin\t" +
                     dir.str("store") + "\t1\n");

  for (const std::uint64_t threshold : {std::uint64_t{1} << 20, kSourceSize / 2, kSourceSize - 65536}) {
    const pid_t process = startProgram("batch_copy_to_resource_store", job);
    ASSERT_GT(process, 0);
    const bool killed = killAfterWriting(process, threshold);
    if (threshold <= kSourceSize / 2) {
      EXPECT_TRUE(killed) << "ended before " << threshold;
    }

    if (pathExists(stored)) {
      EXPECT_EQ(fs::file_size(stored), kSourceSize);
      EXPECT_EQ(md5Hex(stored), digest);
      fs::remove(stored);
    }
    // Nothing else either: the unwritten copy had no name.
    if (pathExists(storageDirectory)) {
      EXPECT_TRUE(fs::is_empty(storageDirectory)) << threshold;
    }
  }

  const RunResult rerun = runProgram({"batch_copy_to_resource_store", job.string()}, job);
  EXPECT_EQ(rerun.exitCode, 0) << rerun.err;
  EXPECT_EQ(rerun.out, std::string("file\t") + kUuid + "\t" + std::to_string(kSourceSize) + "\t" +
                           digest + "\n");
  EXPECT_EQ(md5Hex(stored), digest);
}

}  // namespace
