#include "base/TextWriter.h"

#include <charconv>

namespace RazaDedeZuzev {

TextWriter::TextWriter(platform::FileHandle handle, std::size_t capacity)
    : handle(handle), capacity(capacity) {
  buffer.reserve(capacity);
}

TextWriter::~TextWriter() { Flush(); }

void TextWriter::Write(std::string_view text) {
  if constexpr (platform::kLineEnd != "\n") {
    // Every line end becomes the system's own.
    for (std::size_t start = 0;;) {
      const std::size_t lineFeed = text.find('\n', start);
      if (lineFeed == std::string_view::npos) {
        buffer.append(text.substr(start));
        break;
      }
      buffer.append(text.substr(start, lineFeed - start)).append(platform::kLineEnd);
      start = lineFeed + 1;
    }
  } else {
    buffer.append(text);
  }
  if (buffer.size() >= capacity) Flush();
}

bool TextWriter::Flush() {
  if (!buffer.empty()) writeOut(buffer);
  buffer.clear();
  return !error;
}

void TextWriter::writeOut(std::string_view bytes) {
  if (error) return;  // the file is no longer trusted: nothing after a gap
  std::size_t written = 0;
  error = platform::writeFile(handle, bytes.data(), bytes.size(), written);
  if (!error && written != bytes.size()) error = std::make_error_code(std::errc::no_space_on_device);
}

void appendDecimal(std::string& text, std::int64_t value) {
  char digits[24];
  const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
  text.append(digits, end);
}

void appendDecimal(std::string& text, std::uint64_t value) {
  char digits[24];
  const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
  text.append(digits, end);
}

}  // namespace RazaDedeZuzev
