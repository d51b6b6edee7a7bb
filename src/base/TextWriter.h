#pragma once

// Buffered text output to an open file: the result file, the error file and
// standard output. Each "\n" written reaches the file as the system's line
// end (CR LF on Windows), as a text-mode stream would write it.

#include <cstdint>
#include <string>
#include <string_view>
#include <system_error>

#include "platform/File.h"

namespace RazaDedeZuzev {

class TextWriter {
 public:
  // Writes to `handle`, which the caller keeps open for the writer's life.
  // `capacity` is the buffer size; 0 writes every piece at once.
  explicit TextWriter(platform::FileHandle handle, std::size_t capacity = 1 << 16);
  TextWriter(const TextWriter&) = delete;
  TextWriter& operator=(const TextWriter&) = delete;
  ~TextWriter();

  void Write(std::string_view text);
  // Writes what is buffered. False once any write has failed (or stopped
  // short); the first failure is kept in Error().
  bool Flush();
  const std::error_code& Error() const { return error; }

 private:
  void writeOut(std::string_view bytes);

  platform::FileHandle handle;
  std::size_t capacity;
  std::string buffer;
  std::error_code error;
};

// Appends the decimal digits of a value, as formatted printing would.
void appendDecimal(std::string& text, std::int64_t value);
void appendDecimal(std::string& text, std::uint64_t value);

}  // namespace RazaDedeZuzev
