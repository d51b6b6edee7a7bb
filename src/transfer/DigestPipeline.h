#pragma once

// MD5 digests computed on another thread while the copies go on. Hashing is
// the one part of a copy that cannot be split; here it overlaps with the
// reading, writing and decompressing of the same file and of the files after
// it. A digest is only needed when its result line is written, which waits
// for the batch's publication anyway.
//
// The chunks of all digests pass through one small pool of buffers in
// stream order, so the memory of hashing is bounded whatever the sizes and
// the number of files. A digest may also have its chunks written to a file
// here, before they are hashed: where producing the bytes is the heavier
// work (decompression), the writes leave the caller's thread as well. Such a
// file must stay open until the digest has settled (WaitForWrites).
// On a machine with one processor all of it runs on the caller's thread,
// chunk by chunk. Messages are written on the caller's thread only.

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <string>

#include "platform/Md5.h"
#include "transfer/FileWriter.h"

namespace RazaDedeZuzev {

// The digest of one copy.
class PendingDigest {
 public:
  // Waits until every chunk is hashed and returns the 32 lowercase hex
  // digits; empty after a message. The digest must have been finished.
  std::string WaitForHex();
  // Waits until every chunk is written and hashed; then the message of a
  // write that failed, or "". The digest must have been finished.
  std::string WaitForWrites();
  // From now on every chunk is written to `file` before it is hashed;
  // called before the first chunk is submitted. `followingFailure` is the
  // writer's own line, which follows a failed write's message.
  void WriteTo(platform::FileHandle file, std::string followingFailure) {
    target = FileWriter(file);
    lineAfterFailure = std::move(followingFailure);
  }
  // True once a write has failed: the copy cannot succeed any more.
  bool WriteFailed() const { return writeFailed.load(std::memory_order_relaxed); }
  // Waits until the pipeline is done with every chunk; then the file it
  // writes may be closed. The digest must have been finished.
  void WaitUntilDone();

 private:
  friend class DigestPipeline;

  platform::Md5 md5;
  platform::DigestError error;
  bool failed = false;
  bool finished = false;  // written and hashed whole; guarded by the pipeline's mutex
  std::string hex;
  FileWriter target;  // where the pipeline writes the chunks, if anywhere
  std::string lineAfterFailure;
  std::atomic<bool> writeFailed = false;
  std::error_code writeError;  // none: a write wrote less than asked
  bool queued = false;  // a chunk went to the pipeline's thread; only the submitter's
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
  // Submit and Finish for the digest's last chunk. A small file whose bytes
  // are all in this chunk is written and hashed here, on the caller's
  // thread: handing it over would cost more than the work.
  void SubmitLast(const std::shared_ptr<PendingDigest>& digest, unsigned char* buffer, std::size_t size);
  static constexpr std::size_t kLargestDoneHere = 64 << 10;

 private:
  struct Chunk {
    std::shared_ptr<PendingDigest> digest;
    unsigned char* buffer;  // null: the digest is finished
    std::size_t size;
  };

  DigestPipeline();
  // Queues a chunk for the drainer, starting one where none runs.
  void enqueue(Chunk chunk);
  // Processes the queued chunks in order until none is left.
  void drain();
  // Writes and hashes one chunk, or finishes its digest. Called without
  // the mutex.
  static void process(Chunk& chunk);
  bool allocate();

  const bool inBackground;
  unsigned char* memory = nullptr;
  std::mutex mutex;
  std::condition_variable changed;
  std::deque<unsigned char*> freeBuffers;
  std::deque<Chunk> queue;
  bool draining = false;  // a drainer runs, or is about to
  std::size_t callersWaiting = 0;
  friend class PendingDigest;
};

}  // namespace RazaDedeZuzev
