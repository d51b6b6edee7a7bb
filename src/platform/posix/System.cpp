#include "platform/System.h"

#include <limits.h>
#include <locale.h>
#ifdef __GLIBC__
#include <malloc.h>
#endif
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <thread>

#include "platform/Supervisor.h"
#include "platform/Utf.h"
#include "platform/posix/Kernel.h"

namespace RazaDedeZuzev::platform {
namespace {

// The program's own name as it was started, for systems that cannot tell
// where the executable lies.
std::string programName;

// Where the executable lies, from the name it was started by: a name with a
// separator is a path; a bare name was found in PATH.
std::string executableFromProgramName() {
  if (programName.find('/') != std::string::npos) {
    char resolved[PATH_MAX];
    return ::realpath(programName.c_str(), resolved) != nullptr ? resolved : "";
  }
  const char* searchPath = std::getenv("PATH");
  for (std::string_view rest = searchPath != nullptr ? searchPath : ""; !rest.empty();) {
    const std::size_t colon = rest.find(':');
    const std::string candidate = std::string(rest.substr(0, colon)) + "/" + programName;
    if (::access(candidate.c_str(), X_OK) == 0) return candidate;
    rest = colon == std::string_view::npos ? std::string_view() : rest.substr(colon + 1);
  }
  return {};
}

}  // namespace

std::string systemErrorText(const std::error_code& error) {
  // The C locale's texts are the English ones, whatever the user's locale.
  static const locale_t cLocale = ::newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
  const char* text = cLocale != static_cast<locale_t>(0) ? ::strerror_l(error.value(), cLocale)
                                                         : ::strerror(error.value());
  if (text == nullptr || *text == '\0') return {};
  return std::string(text) + "\n";
}

// POSIX shows no error dialogs.
void prepareProcess() {}

void keepHeapCompactForCopyingThreads() {
#ifdef __GLIBC__
  // The engine takes and frees a 1 MiB buffer for every entry it extracts,
  // on two threads at once. Kept in the heap, such a freed block is split
  // by the small allocations of pending copies, and the next one extends
  // the heap: peaks of 60 MiB where 15 do. Blocks this large are mapped
  // and unmapped instead, for about 5 % of an extraction's time; fixing
  // the threshold fixes the trim threshold too. One heap for all threads
  // keeps each thread's leftovers from adding up.
  ::mallopt(M_MMAP_THRESHOLD, 512 << 10);
  ::mallopt(M_ARENA_MAX, 1);
#endif
}

std::vector<std::u16string> commandLineArguments(int argc, char** argv) {
  std::vector<std::u16string> arguments;
  for (int i = 0; i < argc; ++i) arguments.push_back(utf8ToUtf16(argv[i]));
  if (argc > 0) programName = argv[0];
  return arguments;
}

void sleepMilliseconds(std::uint64_t milliseconds) {
  // A second at a time: a run that waits by its own choice (for a job file
  // not there yet) is no run that a file system holds (Supervisor.h).
  while (milliseconds > 0) {
    const std::uint64_t slice = std::min<std::uint64_t>(milliseconds, 1000);
    timespec remaining{static_cast<time_t>(slice / 1000), static_cast<long>(slice % 1000 * 1000000)};
    while (::nanosleep(&remaining, &remaining) != 0 && errno == EINTR) {
    }
    milliseconds -= slice;
    noteProgress();
  }
}

std::optional<std::string> getEnvironmentVariable(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr) return std::nullopt;
  return std::string(value);
}

std::u16string executableDirectory() {
  std::string path;
  if (posix::kernel::executablePath(path) != 0) path = executableFromProgramName();
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return {};
  return utf8ToUtf16(path.substr(0, slash + 1));
}

unsigned processorCount() {
  const unsigned count = std::thread::hardware_concurrency();
  return count == 0 ? 1 : count;
}

}  // namespace RazaDedeZuzev::platform
