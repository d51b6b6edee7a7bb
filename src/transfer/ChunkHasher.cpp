#include "transfer/ChunkHasher.h"

#include <algorithm>

#include "platform/File.h"
#include "platform/System.h"
#include "transfer/Digest.h"

namespace RazaDedeZuzev {

ChunkHasher::~ChunkHasher() {
  if (!worker.joinable()) return;
  {
    std::lock_guard lock(mutex);
    stopping = true;
  }
  changed.notify_all();
  worker.join();
}

bool ChunkHasher::Start() {
  started = true;
  return md5.Start(error) || reportFailure();
}

void ChunkHasher::PlanFor(std::uint64_t expectedSize) {
  background = started && expectedSize >= kBackgroundThreshold && platform::processorCount() > 1;
  if (background && !worker.joinable()) worker = std::thread([this] { hashInBackground(); });
}

bool ChunkHasher::reportFailure() {
  reportDigestFailure(error);
  return false;
}

bool ChunkHasher::Submit(const void* data, std::size_t size, std::uint64_t& chunkNumber) {
  chunkNumber = ++submitted;
  if (!background) return md5.Update(data, size, error) || reportFailure();
  {
    std::lock_guard lock(mutex);
    if (failed) return reportFailure();
    queue.push_back({data, size});
  }
  changed.notify_all();
  return true;
}

void ChunkHasher::WaitUntilHashed(std::uint64_t chunkNumber) {
  if (!background) return;
  std::unique_lock lock(mutex);
  changed.wait(lock, [&] { return hashed >= chunkNumber; });
}

std::string ChunkHasher::FinishAsHex() {
  WaitUntilHashed(submitted);
  {
    std::lock_guard lock(mutex);
    if (failed) {
      reportFailure();
      return {};
    }
  }
  platform::Md5Digest digest{};
  if (!md5.Finish(digest, error)) {
    reportFailure();
    return {};
  }
  return digestAsHex(digest);
}

void ChunkHasher::hashInBackground() {
  std::unique_lock lock(mutex);
  for (;;) {
    changed.wait(lock, [&] { return stopping || !queue.empty(); });
    if (queue.empty()) return;
    const Chunk chunk = queue.front();
    const bool skip = failed;  // after a failure the digest is dropped anyway
    lock.unlock();
    platform::DigestError chunkError;
    const bool updated = skip || md5.Update(chunk.data, chunk.size, chunkError);
    lock.lock();
    queue.pop_front();
    ++hashed;
    if (!updated && !failed) {
      failed = true;
      error = chunkError;
    }
    changed.notify_all();
  }
}

bool HashBuffers::Allocate(std::uint64_t expectedSize) {
  if (memory != nullptr) return true;
  constexpr std::size_t kPage = 4096;
  const std::uint64_t rounded = (std::max<std::uint64_t>(expectedSize, 1) + kPage - 1) / kPage * kPage;
  size = static_cast<std::size_t>(std::min<std::uint64_t>(rounded, kLargestSize));
  memory = static_cast<unsigned char*>(platform::allocatePageAligned(kCount * size));
  return memory != nullptr;
}

HashBuffers::~HashBuffers() {
  if (memory != nullptr) platform::freePageAligned(memory, kCount * size);
}

}  // namespace RazaDedeZuzev
