#pragma once

// The process's threads. Work that may run beside the caller (the second
// lane of a job's records, the digests, the statuses of a directory's
// entries, the syncs of a batch) is posted here instead of to threads of
// its own. A thread is started when work arrives and every thread is busy,
// and sleeps while it has nothing to do; the main function ends them all
// before the process exits.
//
// A posted task never waits behind another: Post either hands it to a
// thread that takes it at once or refuses it, and the caller then does the
// work itself. So a task may wait for another task, or for its caller,
// without any risk of the two waiting for each other.

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace RazaDedeZuzev::platform {

class WorkerPool {
 public:
  // More threads than this would only wait for the same disk.
  static constexpr std::size_t kMostThreads = 64;

  // The process's pool.
  static WorkerPool& Get();

  // Runs `task` on a thread of the pool. False when no thread can take it
  // (the pool is full, shut down, or no thread can be started): the task
  // is dropped, and the caller does the work itself.
  bool Post(std::function<void()> task);

  // Waits for the tasks under way, then ends and joins every thread.
  // Later posts are refused.
  void Shutdown();

  WorkerPool() = default;
  WorkerPool(const WorkerPool&) = delete;
  WorkerPool& operator=(const WorkerPool&) = delete;
  ~WorkerPool() { Shutdown(); }

 private:
  void serve();

  std::mutex mutex;
  std::condition_variable arrived;
  std::deque<std::function<void()>> tasks;  // each has an idle thread to take it
  std::vector<std::thread> threads;
  std::size_t idle = 0;
  bool stopping = false;
};

// Runs work(i) for every i below `count` on the caller's thread and up to
// `lanes - 1` threads of the pool, each lane taking the next i not taken;
// returns when every call has returned.
void forEachInParallel(std::size_t count, std::size_t lanes, const std::function<void(std::size_t)>& work);

}  // namespace RazaDedeZuzev::platform
