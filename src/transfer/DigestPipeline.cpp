#include "transfer/DigestPipeline.h"

#include "platform/File.h"
#include "platform/System.h"
#include "platform/WorkerPool.h"
#include "transfer/Digest.h"

namespace RazaDedeZuzev {

void PendingDigest::WaitUntilDone() {
  DigestPipeline& pipeline = DigestPipeline::Get();
  std::unique_lock lock(pipeline.mutex);
  ++pipeline.callersWaiting;
  pipeline.changed.wait(lock, [this] { return finished; });
  --pipeline.callersWaiting;
}

std::string PendingDigest::WaitForWrites() {
  WaitUntilDone();
  return WriteFailed() ? writeFailureMessage("WriteFile failed: ", writeError) + lineAfterFailure : std::string();
}

std::string PendingDigest::WaitForHex() {
  WaitUntilDone();
  if (failed) {
    reportDigestFailure(error);
    return {};
  }
  return hex;
}

DigestPipeline& DigestPipeline::Get() {
  // Its chunks may be drained by the process's threads until they end: the
  // pipeline is never destroyed.
  static DigestPipeline* const pipeline = new DigestPipeline;
  return *pipeline;
}

DigestPipeline::DigestPipeline() : inBackground(platform::processorCount() > 1) {}

std::shared_ptr<PendingDigest> DigestPipeline::Start() {
  auto digest = std::make_shared<PendingDigest>();
  if (!digest->md5.Start(digest->error)) {
    reportDigestFailure(digest->error);
    return nullptr;
  }
  return digest;
}

bool DigestPipeline::allocate() {
  if (memory != nullptr) return true;
  memory = static_cast<unsigned char*>(platform::allocatePageAligned(kBufferCount * kBufferSize));
  if (memory == nullptr) return false;
  for (std::size_t i = 0; i < kBufferCount; ++i) freeBuffers.push_back(memory + i * kBufferSize);
  return true;
}

unsigned char* DigestPipeline::Acquire() {
  std::unique_lock lock(mutex);
  if (!allocate()) return nullptr;
  ++callersWaiting;
  changed.wait(lock, [this] { return !freeBuffers.empty(); });
  --callersWaiting;
  unsigned char* buffer = freeBuffers.front();
  freeBuffers.pop_front();
  return buffer;
}

void DigestPipeline::Release(unsigned char* buffer) {
  std::lock_guard lock(mutex);
  freeBuffers.push_back(buffer);
  if (callersWaiting > 0) changed.notify_all();
}

void DigestPipeline::Submit(const std::shared_ptr<PendingDigest>& digest, unsigned char* buffer,
                            std::size_t size) {
  Chunk chunk{digest, buffer, size};
  if (!inBackground) {
    process(chunk);
    Release(buffer);
    return;
  }
  digest->queued = true;
  enqueue(std::move(chunk));
}

void DigestPipeline::SubmitLast(const std::shared_ptr<PendingDigest>& digest, unsigned char* buffer,
                                std::size_t size) {
  if (inBackground && (digest->queued || size > kLargestDoneHere)) {
    Submit(digest, buffer, size);
    Finish(digest);
    return;
  }
  Chunk last{digest, buffer, size};
  process(last);
  Release(buffer);
  Chunk end{digest, nullptr, 0};
  process(end);
  std::lock_guard lock(mutex);
  digest->finished = true;
}

void DigestPipeline::Finish(const std::shared_ptr<PendingDigest>& digest) {
  Chunk chunk{digest, nullptr, 0};
  if (!inBackground) process(chunk);
  std::unique_lock lock(mutex);
  if (!inBackground) {
    digest->finished = true;
    return;
  }
  lock.unlock();
  enqueue(std::move(chunk));
}

void DigestPipeline::process(Chunk& chunk) {
  PendingDigest& digest = *chunk.digest;
  if (digest.failed || digest.WriteFailed()) return;  // the copy is dropped anyway
  if (chunk.buffer != nullptr) {
    if (digest.target.Writes() && !digest.target.Write(chunk.buffer, chunk.size, digest.writeError)) {
      digest.writeFailed.store(true, std::memory_order_relaxed);
    }
    digest.failed = !digest.md5.Update(chunk.buffer, chunk.size, digest.error);
    return;
  }
  // The whole file is written: the disk may start on it, so that the sync
  // of its batch finds little left to do.
  if (digest.target.Writes()) digest.target.StartWriteback();
  platform::Md5Digest value{};
  digest.failed = !digest.md5.Finish(value, digest.error);
  if (!digest.failed) digest.hex = digestAsHex(value);
}

void DigestPipeline::enqueue(Chunk chunk) {
  {
    const std::lock_guard lock(mutex);
    queue.push_back(std::move(chunk));
    if (draining) return;
    draining = true;
  }
  // One drainer at a time keeps the chunks in stream order. Where no thread
  // can take it, the caller drains the queue itself.
  if (!platform::WorkerPool::Get().Post([this] { drain(); })) drain();
}

void DigestPipeline::drain() {
  std::unique_lock lock(mutex);
  while (!queue.empty()) {
    Chunk chunk = std::move(queue.front());
    queue.pop_front();
    lock.unlock();
    process(chunk);
    lock.lock();
    if (chunk.buffer != nullptr) {
      freeBuffers.push_back(chunk.buffer);
    } else {
      chunk.digest->finished = true;
    }
    if (callersWaiting > 0) changed.notify_all();
  }
  draining = false;
}

}  // namespace RazaDedeZuzev
