#pragma once

// The data syncs of a batch of copies, each started as soon as its copy is
// complete and run by a few threads of the process's pool, so that the disk
// works on them while the next copies are made, and the file system can
// serve many with one journal commit. Nothing else is synced: no sync
// reaches what other processes wrote.

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <system_error>
#include <vector>

#include "platform/File.h"

namespace RazaDedeZuzev {

class PendingDigest;

class FileSyncs {
 public:
  // Syncs waiting for the disk at once: enough for a file system to merge
  // them into few commits, and for a network file system to share the wait
  // for its server (20,000 small files on ext4: 4.2 s one at a time, 0.56 s
  // 32 at a time).
  static constexpr std::size_t kLanes = 32;
  // A thread is woken for every few syncs waiting, not for each: the wake
  // costs about what a small file's copy does.
  static constexpr std::size_t kSyncsPerWake = 8;

  FileSyncs() = default;
  FileSyncs(const FileSyncs&) = delete;
  FileSyncs& operator=(const FileSyncs&) = delete;
  // Waits for the syncs under way: their files stay open until then.
  ~FileSyncs() { WaitForAll(); }

  // Starts a sync of the file's data once `digest` (when given) has written
  // every byte to it. The file must stay open until WaitForAll returns.
  void Start(platform::FileHandle file, std::shared_ptr<PendingDigest> digest);

  // Waits until every sync started is done (doing some itself) and returns
  // what each reported, in the order they were started; starts afresh.
  std::vector<std::error_code> WaitForAll();

 private:
  struct Sync {
    platform::FileHandle file;
    std::shared_ptr<PendingDigest> digest;
    std::size_t number;
  };
  // Takes syncs from the queue until it is empty.
  void serve(std::unique_lock<std::mutex>& lock);

  std::mutex mutex;
  std::condition_variable done;
  std::deque<Sync> queue;
  std::vector<std::error_code> results;
  std::size_t started = 0;
  std::size_t finished = 0;
  std::size_t lanes = 0;  // pool threads serving the queue
};

}  // namespace RazaDedeZuzev
