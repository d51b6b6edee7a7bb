#include "transfer/FileSyncs.h"

#include <utility>

#include "platform/WorkerPool.h"
#include "transfer/DigestPipeline.h"

namespace RazaDedeZuzev {

void FileSyncs::Start(platform::FileHandle file, std::shared_ptr<PendingDigest> digest) {
  std::unique_lock lock(mutex);
  queue.push_back({file, std::move(digest), started++});
  results.emplace_back();
  if (lanes >= kLanes || queue.size() < (lanes + 1) * kSyncsPerWake) return;
  ++lanes;
  lock.unlock();
  const bool posted = platform::WorkerPool::Get().Post([this] {
    std::unique_lock laneLock(mutex);
    serve(laneLock);
    --lanes;
    done.notify_all();
  });
  if (posted) return;
  lock.lock();
  --lanes;  // no thread for it: the caller's thread syncs in WaitForAll
}

void FileSyncs::serve(std::unique_lock<std::mutex>& lock) {
  while (!queue.empty()) {
    Sync sync = std::move(queue.front());
    queue.pop_front();
    lock.unlock();
    std::error_code error;
    // The digest pipeline may still be writing the file; a write that
    // failed is reported with the copy, and its file never named.
    if (sync.digest) sync.digest->WaitUntilDone();
    if (!sync.digest || !sync.digest->WriteFailed()) error = platform::syncFileData(sync.file);
    lock.lock();
    results[sync.number] = error;
    ++finished;
  }
}

std::vector<std::error_code> FileSyncs::WaitForAll() {
  std::unique_lock lock(mutex);
  serve(lock);
  done.wait(lock, [this] { return finished == started && lanes == 0; });
  std::vector<std::error_code> reported = std::move(results);
  results.clear();
  started = finished = 0;
  return reported;
}

}  // namespace RazaDedeZuzev
