#pragma once

// MD5 digests computed on a second thread while the copies go on. Hashing is
// the one part of a copy that cannot be split; here it overlaps with the
// reading, writing and decompressing of the same file and of the files after
// it. A digest is only needed when its result line is written, which waits
// for the batch's publication anyway.
//
// The chunks of all digests pass through one small pool of buffers in
// stream order, so the memory of hashing is bounded whatever the sizes and
// the number of files. On a machine with one processor the digest is
// computed on the caller's thread, chunk by chunk. Messages are written on
// the caller's thread only.

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <string>

#include "platform/Md5.h"

namespace RazaDedeZuzev {

// The digest of one copy.
class PendingDigest {
 public:
  // Waits until every chunk is hashed and returns the 32 lowercase hex
  // digits; empty after a message. The digest must have been finished.
  std::string WaitForHex();

 private:
  friend class DigestPipeline;
  platform::Md5 md5;
  platform::DigestError error;
  bool failed = false;
  bool finished = false;  // hashed whole; guarded by the pipeline's mutex
  std::string hex;
};

class DigestPipeline {
 public:
  static constexpr std::size_t kBufferSize = 1 << 20;
  static constexpr std::size_t kBufferCount = 6;

  // The process's pipeline.
  static DigestPipeline& Get();

  // A fresh digest, or null after a message.
  std::shared_ptr<PendingDigest> Start();

  // A free buffer of kBufferSize bytes; waits while every buffer holds
  // bytes not hashed yet. Null when there is no memory.
  unsigned char* Acquire();
  // Gives a buffer back unused.
  void Release(unsigned char* buffer);
  // Hands the first `size` bytes of an acquired buffer to the digest; the
  // buffer is free again once they are hashed.
  void Submit(const std::shared_ptr<PendingDigest>& digest, unsigned char* buffer, std::size_t size);
  // No more bytes for this digest.
  void Finish(const std::shared_ptr<PendingDigest>& digest);

 private:
  struct Chunk {
    std::shared_ptr<PendingDigest> digest;
    unsigned char* buffer;  // null: the digest is finished
    std::size_t size;
  };

  DigestPipeline();
  void work();
  // Hashes one chunk, frees its buffer or finishes its digest. Called
  // without the mutex; returns the buffer to free (or null).
  static void hash(Chunk& chunk);
  bool allocate();

  const bool inBackground;
  unsigned char* memory = nullptr;
  std::mutex mutex;
  std::condition_variable changed;
  std::deque<unsigned char*> freeBuffers;
  std::deque<Chunk> queue;
  bool workerWaiting = false;
  std::size_t callersWaiting = 0;
  friend class PendingDigest;
};

}  // namespace RazaDedeZuzev
