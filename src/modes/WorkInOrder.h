#pragma once

// Items of a job's work (records, or runs of records) done on up to two
// threads (the caller's and one of the process's pool) and taken strictly in item order, so that the result file and the
// error file read as if the items had been done one after the other.

#include <algorithm>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "base/Logger.h"
#include "platform/WorkerPool.h"

namespace RazaDedeZuzev {

// Each thread takes the next item not taken yet, up to a window of items
// beyond the first one not taken in order; the caller's thread takes the
// results in order and does items itself while the next one is not done.
// Every item's messages are held until its turn, and dropped with its
// result when an item before it fails.
template <typename Result>
class WorkInOrder {
 public:
  // Does one item into its result; false after the messages that say why.
  // `lane` tells whose resources to use: 0 for the caller's thread, 1 for
  // the second thread.
  using Work = std::function<bool(std::uint64_t item, unsigned lane, Result& result)>;

  WorkInOrder(std::uint64_t itemCount, std::size_t window, Work work)
      : itemCount(itemCount), work(std::move(work)), slots(std::max<std::size_t>(window, 1)) {}
  WorkInOrder(const WorkInOrder&) = delete;
  WorkInOrder& operator=(const WorkInOrder&) = delete;
  ~WorkInOrder() { stopSecondLane(); }

  // Starts lane 1 on a thread of the process's pool; false when none can
  // take it (the caller's thread then does every item).
  bool StartSecondLane() {
    {
      const std::lock_guard lock(mutex);
      secondLaneRunning = true;
    }
    const bool started = platform::WorkerPool::Get().Post([this] {
      workWhileItemsRemain(1);
      const std::lock_guard lock(mutex);
      secondLaneRunning = false;
      changed.notify_all();
    });
    if (!started) {
      const std::lock_guard lock(mutex);
      secondLaneRunning = false;
    }
    return started;
  }

  // Hands every item's result, in item order, to `take` (bool(Result&&,
  // bool done)), after writing the messages its work held. Stops at the
  // first item that fails or that `take` refuses: the second lane stops,
  // `discard` gets every result left, and the answer is false.
  template <typename Take, typename Discard>
  bool TakeAll(Take take, Discard discard) {
    for (std::uint64_t item = 0; item < itemCount; ++item) {
      Slot slot = waitForSlot(item);
      Logger::GetInstance() << slot.messages;
      const bool done = slot.done;
      if (!take(std::move(slot.result), done) || !done) {
        stopSecondLane();
        for (Slot& left : slots) discard(left.result);
        return false;
      }
    }
    return true;
  }

 private:
  struct Slot {
    Result result{};
    std::string messages;
    bool done = false;      // the work succeeded
    bool finished = false;  // the work ended, either way
  };

  Slot& slotOf(std::uint64_t item) { return slots[item % slots.size()]; }

  // The next item to do, or none; with the mutex held.
  bool takeItem(std::uint64_t& item) {
    if (stopping || nextToDo == itemCount || nextToDo == nextToTake + slots.size()) return false;
    item = nextToDo++;
    return true;
  }

  // Does one item into its slot, the mutex released meanwhile.
  void doItem(std::unique_lock<std::mutex>& lock, std::uint64_t item, unsigned lane) {
    lock.unlock();
    Slot& slot = slotOf(item);
    {
      const HeldMessages held(slot.messages);
      slot.done = work(item, lane, slot.result);
    }
    lock.lock();
    slot.finished = true;
    changed.notify_all();
  }

  // The loop of lane 1: it ends when no item is left to take.
  void workWhileItemsRemain(unsigned lane) {
    std::unique_lock lock(mutex);
    while (true) {
      std::uint64_t item = 0;
      bool taken = false;
      changed.wait(lock, [&] { return stopping || nextToDo == itemCount || (taken = takeItem(item)); });
      if (!taken) return;
      doItem(lock, item, lane);
    }
  }

  // Waits until the item is done, doing later ones meanwhile where that is
  // allowed; the slot is left for an item a window on.
  Slot waitForSlot(std::uint64_t item) {
    std::unique_lock lock(mutex);
    while (!slotOf(item).finished) {
      std::uint64_t next = 0;
      if (takeItem(next)) {
        doItem(lock, next, 0);
      } else {
        changed.wait(lock);
      }
    }
    Slot slot = std::exchange(slotOf(item), Slot());
    ++nextToTake;
    changed.notify_all();
    return slot;
  }

  // Waits until lane 1 has left its loop: nothing of this object is used
  // after that.
  void stopSecondLane() {
    std::unique_lock lock(mutex);
    stopping = true;
    changed.notify_all();
    changed.wait(lock, [this] { return !secondLaneRunning; });
  }

  std::uint64_t itemCount;
  Work work;
  std::vector<Slot> slots;  // of the items in flight, by item modulo their number
  std::mutex mutex;
  std::condition_variable changed;
  std::uint64_t nextToDo = 0;
  std::uint64_t nextToTake = 0;
  bool stopping = false;
  bool secondLaneRunning = false;
};

}  // namespace RazaDedeZuzev
