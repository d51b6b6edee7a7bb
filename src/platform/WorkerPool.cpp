#include "platform/WorkerPool.h"

#include <algorithm>
#include <atomic>
#include <system_error>
#include <utility>

namespace RazaDedeZuzev::platform {

WorkerPool& WorkerPool::Get() {
  static WorkerPool pool;
  return pool;
}

bool WorkerPool::Post(std::function<void()> task) {
  std::unique_lock lock(mutex);
  if (stopping) return false;
  if (idle > tasks.size()) {
    tasks.push_back(std::move(task));
    arrived.notify_one();
    return true;
  }
  if (threads.size() >= kMostThreads) return false;
  try {
    threads.emplace_back([this] { serve(); });
  } catch (const std::system_error&) {
    return false;  // no thread to be had: the caller works alone
  }
  ++idle;  // the new thread takes the task as soon as it runs
  tasks.push_back(std::move(task));
  return true;
}

void WorkerPool::serve() {
  std::unique_lock lock(mutex);
  for (;;) {
    arrived.wait(lock, [this] { return stopping || !tasks.empty(); });
    if (tasks.empty()) return;  // stopping, and nothing left
    std::function<void()> task = std::move(tasks.front());
    tasks.pop_front();
    --idle;
    lock.unlock();
    task();
    task = nullptr;  // what the task held goes before the thread waits again
    lock.lock();
    ++idle;
  }
}

void WorkerPool::Shutdown() {
  std::vector<std::thread> ending;
  {
    const std::lock_guard lock(mutex);
    stopping = true;
    ending.swap(threads);
  }
  arrived.notify_all();
  for (std::thread& thread : ending) thread.join();
}

void forEachInParallel(std::size_t count, std::size_t lanes, const std::function<void(std::size_t)>& work) {
  std::atomic<std::size_t> next{0};
  const auto lane = [&] {
    for (std::size_t i = next++; i < count; i = next++) work(i);
  };
  // Every helper posted is running or about to: the caller waits for each.
  std::mutex mutex;
  std::condition_variable ended;
  std::size_t running = 0;
  const std::size_t helpers = std::min(lanes, count) > 1 ? std::min(lanes, count) - 1 : 0;
  for (std::size_t n = 0; n < helpers; ++n) {
    {
      const std::lock_guard lock(mutex);
      ++running;
    }
    const bool posted = WorkerPool::Get().Post([&] {
      lane();
      const std::lock_guard lock(mutex);
      if (--running == 0) ended.notify_one();
    });
    if (posted) continue;
    const std::lock_guard lock(mutex);
    --running;
    break;
  }
  lane();
  std::unique_lock lock(mutex);
  ended.wait(lock, [&] { return running == 0; });
}

}  // namespace RazaDedeZuzev::platform
