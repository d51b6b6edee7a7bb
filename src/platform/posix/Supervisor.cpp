#include "platform/Supervisor.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <new>

#include "platform/posix/Kernel.h"

namespace RazaDedeZuzev::platform {
namespace {

using Counter = std::atomic<std::uint64_t>;
static_assert(Counter::is_always_lock_free, "shared between processes");

// Calls of the worker that returned, in memory the watcher shares.
Counter* progress = nullptr;

std::uint64_t nowMilliseconds() {
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::uint64_t>(now.tv_sec) * 1000 + static_cast<std::uint64_t>(now.tv_nsec) / 1000000;
}

// The worker's exit code; a worker killed by a signal (a crash, a kill)
// ends the watcher the same way, so that the caller sees what it would
// have seen without a watcher.
int exitCodeOf(int status) {
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) {
    ::signal(WTERMSIG(status), SIG_DFL);
    ::raise(WTERMSIG(status));
    return 128 + WTERMSIG(status);
  }
  return 2;
}

// Passes what the worker writes to its standard output or error (`from`)
// on to the watcher's own (`to`); false once the worker's end is closed.
bool relay(int from, int to) {
  char buffer[4096];
  const ssize_t got = ::read(from, buffer, sizeof buffer);
  if (got < 0) return errno == EINTR || errno == EAGAIN;
  for (ssize_t done = 0; done < got;) {
    const ssize_t put = ::write(to, buffer + done, static_cast<std::size_t>(got - done));
    if (put < 0 && errno != EINTR) break;  // nobody reads: dropped, as the worker's own write would be
    done += put > 0 ? put : 0;
  }
  return got > 0;
}

// Relays the worker's output until the worker ends (its ends of the pipes
// close) or stalls. The worker writes through pipes rather than to the
// caller's own descriptors so that a stalled worker holds nothing the
// caller waits on.
int watch(pid_t worker, int (&pipes)[2], std::uint64_t stallSeconds,
          const std::function<void(std::uint64_t)>& onStall) {
  std::uint64_t seen = progress->load(std::memory_order_relaxed);
  std::uint64_t quietSince = nowMilliseconds();
  pollfd watched[2] = {{pipes[0], POLLIN, 0}, {pipes[1], POLLIN, 0}};
  while (watched[0].fd >= 0 || watched[1].fd >= 0) {
    if (::poll(watched, 2, 250) > 0) {
      for (int i = 0; i < 2; ++i) {
        if (watched[i].revents != 0 && !relay(watched[i].fd, i == 0 ? STDOUT_FILENO : STDERR_FILENO)) {
          watched[i].fd = -1;
        }
      }
      continue;
    }
    const std::uint64_t now = progress->load(std::memory_order_relaxed);
    if (now != seen) {
      seen = now;
      quietSince = nowMilliseconds();
    } else if (nowMilliseconds() - quietSince >= stallSeconds * 1000) {
      onStall(static_cast<std::uint64_t>(worker));
      ::kill(worker, SIGKILL);  // lands when the kernel lets the worker go
      return 2;
    }
  }
  int status = 0;
  while (::waitpid(worker, &status, 0) < 0 && errno == EINTR) {
  }
  return exitCodeOf(status);
}

// Gives the worker the write ends as its standard output and error.
void useAsOutput(int (&output)[2], int (&error)[2]) {
  ::dup2(output[1], STDOUT_FILENO);
  ::dup2(error[1], STDERR_FILENO);
  for (int descriptor : {output[0], output[1], error[0], error[1]}) ::close(descriptor);
}

}  // namespace

void noteProgress() {
  if (progress != nullptr) progress->fetch_add(1, std::memory_order_relaxed);
}

int runSupervised(std::uint64_t stallSeconds, const std::function<int()>& work,
                  const std::function<void(std::uint64_t)>& onStall) {
  if (stallSeconds == 0) return work();
  void* shared = ::mmap(nullptr, sizeof(Counter), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
  if (shared == MAP_FAILED) return work();  // unwatched, as the program always ran
  int output[2] = {-1, -1}, error[2] = {-1, -1};
  if (::pipe2(output, O_CLOEXEC) != 0 || ::pipe2(error, O_CLOEXEC) != 0) {
    for (int descriptor : {output[0], output[1]}) ::close(descriptor);
    return work();
  }
  progress = new (shared) Counter(0);
  const pid_t worker = ::fork();
  if (worker == 0) {
    useAsOutput(output, error);
    posix::kernel::endWithParent();
    return work();
  }
  ::close(output[1]);
  ::close(error[1]);
  int pipes[2] = {output[0], error[0]};
  const int code = worker < 0 ? work() : watch(worker, pipes, stallSeconds, onStall);
  ::close(output[0]);
  ::close(error[0]);
  return code;
}

}  // namespace RazaDedeZuzev::platform
