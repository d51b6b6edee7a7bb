#pragma once

// Feeds a copy's chunks, in stream order, to its MD5 digest. For a large copy
// on a machine with more than one processor the digest runs on a second
// thread, so that hashing (the one part of a copy that cannot be split)
// overlaps with reading, writing or decompressing the next chunks. Messages
// are written on the caller's thread only.
//
// With a background digest, a submitted chunk's bytes must stay unchanged
// until WaitUntilHashed says they have been hashed: the caller cycles through
// a few buffers (HashBuffers) and waits before it refills one.

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

#include "platform/Md5.h"

namespace RazaDedeZuzev {

class ChunkHasher {
 public:
  // Copies smaller than this are hashed on the caller's thread: handing
  // chunks to another thread would cost more than it saves.
  static constexpr std::uint64_t kBackgroundThreshold = 1 << 20;

  ChunkHasher() = default;
  ChunkHasher(const ChunkHasher&) = delete;
  ChunkHasher& operator=(const ChunkHasher&) = delete;
  ~ChunkHasher();

  // Prepares a fresh digest; false after a message.
  bool Start();
  bool Started() const { return started; }
  // Hashes the chunks of a copy of `expectedSize` bytes on a second thread
  // when that pays; called before the first chunk.
  void PlanFor(std::uint64_t expectedSize);
  bool InBackground() const { return background; }

  // Feeds one chunk; returns its number (from 1). False after a message
  // when the digest failed (then no more chunks are taken).
  bool Submit(const void* data, std::size_t size, std::uint64_t& chunkNumber);
  // Returns once chunk `chunkNumber` and all before it are hashed.
  void WaitUntilHashed(std::uint64_t chunkNumber);

  // Waits for every chunk and returns the 32 lowercase hex digits; empty
  // after a message.
  std::string FinishAsHex();

 private:
  struct Chunk {
    const void* data;
    std::size_t size;
  };
  void hashInBackground();
  bool reportFailure();

  platform::Md5 md5;
  bool started = false;
  bool background = false;
  std::uint64_t submitted = 0;

  // Shared with the background thread, under `mutex`.
  std::mutex mutex;
  std::condition_variable changed;
  std::deque<Chunk> queue;
  std::uint64_t hashed = 0;
  bool stopping = false;
  bool failed = false;
  platform::DigestError error;
  std::thread worker;
};

// A few buffers of one size for a copy whose chunks may still be hashed in
// the background while the next ones are read: the memory of a copy is
// bounded, whatever the size of the file.
class HashBuffers {
 public:
  static constexpr std::size_t kCount = 4;
  static constexpr std::size_t kLargestSize = 1024 * 1024;

  HashBuffers() = default;
  HashBuffers(const HashBuffers&) = delete;
  HashBuffers& operator=(const HashBuffers&) = delete;
  ~HashBuffers();

  // Allocates (once) buffers fit for a copy of `expectedSize` more bytes:
  // a small file gets small ones. False when there is no memory.
  bool Allocate(std::uint64_t expectedSize);
  std::size_t Size() const { return size; }
  // The buffer for the chunk with this number (from 1); before filling it,
  // wait until chunk `chunkNumber - kCount` is hashed.
  unsigned char* ForChunk(std::uint64_t chunkNumber) const {
    return memory + ((chunkNumber - 1) % kCount) * size;
  }

 private:
  unsigned char* memory = nullptr;
  std::size_t size = 0;
};

}  // namespace RazaDedeZuzev
