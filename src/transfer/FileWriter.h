#pragma once

// Writes one file front to back, asking the disk to start on it every
// kWritebackStep bytes as it grows: a large copy then overlaps with the
// disk's work, and its final sync is short.

#include <cstddef>
#include <cstdint>
#include <string>
#include <system_error>

#include "platform/File.h"

namespace RazaDedeZuzev {

class FileWriter {
 public:
  static constexpr std::uint64_t kWritebackStep = 8 << 20;

  explicit FileWriter(platform::FileHandle file = platform::kInvalidFileHandle) : file(file) {}

  bool Writes() const { return file != platform::kInvalidFileHandle; }
  // Writes all of `data`. False when the system refused (`error` says why)
  // or wrote less than asked (no error).
  bool Write(const void* data, std::size_t size, std::error_code& error);
  // Asks the disk to start on what it has not been asked to start on yet.
  void StartWriteback();

 private:
  platform::FileHandle file;
  std::uint64_t written = 0;
  std::uint64_t writebackStart = 0;
};

// The message of a failed Write: `failurePrefix` and the system's text, or
// the one of a short write.
std::string writeFailureMessage(const char* failurePrefix, const std::error_code& error);

}  // namespace RazaDedeZuzev
