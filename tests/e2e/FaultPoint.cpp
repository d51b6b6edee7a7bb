// Preloaded into the program by the end-to-end tests (LD_PRELOAD): at an
// exact moment named by the environment, the process kills itself with
// SIGKILL, or its reads start to fail. A kill has the effect on the files of
// a SIGKILL from outside that lands at that very moment, without depending on
// how fast the run goes.
//
//   RAZADEDEZUZEV_TEST_KILL_AFTER_BYTES=N  once N bytes have been written,
//                                          all files together (the write
//                                          that crosses N is cut at N)
//   RAZADEDEZUZEV_TEST_KILL_BEFORE_LINK=K  instead of making the K-th link
//   RAZADEDEZUZEV_TEST_KILL_AFTER_LINK=K   right after making the K-th link
//   RAZADEDEZUZEV_TEST_FAIL_READS_AFTER_BYTES=N
//                                          every read fails with EIO once N
//                                          bytes have been read
//
// Links are counted as calls of link and linkat, 1 for the first; a stored
// file gets its name by one of them. Only the program's own calls count: the
// C library's streams (the job file, the result file) do not come here.

#include <dlfcn.h>
#include <errno.h>
#include <signal.h>
#include <sys/types.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>

namespace {

std::uint64_t setting(const char* name) {
  const char* value = std::getenv(name);
  return value == nullptr ? 0 : std::strtoull(value, nullptr, 10);
}

template <typename Function>
Function next(const char* name) {
  return reinterpret_cast<Function>(::dlsym(RTLD_NEXT, name));
}

// Counts a link about to be made; kills the process when it is the one.
std::uint64_t beforeLink() {
  static const std::uint64_t killBefore = setting("RAZADEDEZUZEV_TEST_KILL_BEFORE_LINK");
  static std::uint64_t links = 0;
  ++links;
  if (links == killBefore) ::raise(SIGKILL);
  return links;
}

void afterLink(std::uint64_t number) {
  static const std::uint64_t killAfter = setting("RAZADEDEZUZEV_TEST_KILL_AFTER_LINK");
  if (number == killAfter) ::raise(SIGKILL);
}

}  // namespace

extern "C" ssize_t write(int descriptor, const void* data, size_t size) {
  using Write = ssize_t (*)(int, const void*, size_t);
  static const Write realWrite = next<Write>("write");
  static const std::uint64_t killAfter = setting("RAZADEDEZUZEV_TEST_KILL_AFTER_BYTES");
  static std::uint64_t written = 0;
  if (killAfter == 0 || written + size < killAfter) {
    const ssize_t result = realWrite(descriptor, data, size);
    if (result > 0) written += static_cast<std::uint64_t>(result);
    return result;
  }
  realWrite(descriptor, data, static_cast<size_t>(killAfter - written));
  ::raise(SIGKILL);
  return -1;
}

extern "C" ssize_t read(int descriptor, void* buffer, size_t size) {
  using Read = ssize_t (*)(int, void*, size_t);
  static const Read realRead = next<Read>("read");
  static const std::uint64_t failAfter = setting("RAZADEDEZUZEV_TEST_FAIL_READS_AFTER_BYTES");
  static std::uint64_t bytesRead = 0;
  if (failAfter != 0 && bytesRead >= failAfter) {
    errno = EIO;
    return -1;
  }
  const ssize_t result = realRead(descriptor, buffer, size);
  if (result > 0) bytesRead += static_cast<std::uint64_t>(result);
  return result;
}

extern "C" int linkat(int fromDirectory, const char* from, int toDirectory, const char* to,
                      int flags) {
  using Linkat = int (*)(int, const char*, int, const char*, int);
  static const Linkat realLinkat = next<Linkat>("linkat");
  const std::uint64_t number = beforeLink();
  const int result = realLinkat(fromDirectory, from, toDirectory, to, flags);
  afterLink(number);
  return result;
}

extern "C" int link(const char* from, const char* to) {
  using Link = int (*)(const char*, const char*);
  static const Link realLink = next<Link>("link");
  const std::uint64_t number = beforeLink();
  const int result = realLink(from, to);
  afterLink(number);
  return result;
}
