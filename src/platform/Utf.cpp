#include "platform/Utf.h"

#include <cstdint>
#include <cstring>

namespace RazaDedeZuzev::platform {
namespace {

constexpr char16_t kEscapeBase = 0xDC00;  // lone low surrogate + raw byte

bool isContinuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

// Length of the well-formed UTF-8 sequence at the start of `rest`, or 0.
std::size_t wellFormedLength(std::string_view rest, char32_t& codePoint) {
  const auto b0 = static_cast<unsigned char>(rest[0]);
  if (b0 < 0x80) {
    codePoint = b0;
    return 1;
  }
  std::size_t length = 0;
  char32_t value = 0;
  char32_t minimum = 0;
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    length = 2, value = b0 & 0x1Fu, minimum = 0x80;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    length = 3, value = b0 & 0x0Fu, minimum = 0x800;
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    length = 4, value = b0 & 0x07u, minimum = 0x10000;
  } else {
    return 0;
  }
  if (rest.size() < length) return 0;
  for (std::size_t i = 1; i < length; ++i) {
    const auto b = static_cast<unsigned char>(rest[i]);
    if (!isContinuation(b)) return 0;
    value = (value << 6) | (b & 0x3Fu);
  }
  // Overlong forms, surrogates and values past U+10FFFF are not UTF-8; they
  // are escaped byte by byte so that they round-trip unchanged.
  if (value < minimum || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return 0;
  codePoint = value;
  return length;
}

bool hasHighBit(const char* eightBytes) {
  std::uint64_t word = 0;
  std::memcpy(&word, eightBytes, sizeof word);
  return (word & 0x8080808080808080u) != 0;
}

// Writes the code point as UTF-8 at `out`; returns the end of what it wrote.
char* writeCodePointUtf8(char32_t cp, char* out) {
  if (cp < 0x800) {
    *out++ = static_cast<char>(0xC0 | (cp >> 6));
  } else if (cp < 0x10000) {
    *out++ = static_cast<char>(0xE0 | (cp >> 12));
    *out++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
  } else {
    *out++ = static_cast<char>(0xF0 | (cp >> 18));
    *out++ = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    *out++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
  }
  *out++ = static_cast<char>(0x80 | (cp & 0x3F));
  return out;
}

}  // namespace

// Both conversions size the output for the worst case first and write through
// a pointer: paths are converted for every record of a job and every entry of
// a listing, so this is a hot path.

void appendUtf8AsUtf16(std::string_view bytes, std::u16string& out) {
  const std::size_t oldSize = out.size();
  out.resize(oldSize + bytes.size());  // never more units than bytes
  char16_t* write = out.data() + oldSize;
  std::size_t i = 0;
  while (i < bytes.size()) {
    // Most names are ASCII: eight bytes at a time while no high bit is set.
    while (i + 8 <= bytes.size() && !hasHighBit(bytes.data() + i)) {
      for (std::size_t k = 0; k < 8; ++k) write[k] = static_cast<unsigned char>(bytes[i + k]);
      write += 8;
      i += 8;
    }
    if (i == bytes.size()) break;
    const auto b0 = static_cast<unsigned char>(bytes[i]);
    if (b0 < 0x80) {
      *write++ = b0;
      ++i;
      continue;
    }
    char32_t cp = 0;
    const std::size_t length = wellFormedLength(bytes.substr(i), cp);
    if (length == 0) {
      *write++ = static_cast<char16_t>(kEscapeBase + b0);
      ++i;
    } else if (cp >= 0x10000) {
      cp -= 0x10000;
      *write++ = static_cast<char16_t>(0xD800 + (cp >> 10));
      *write++ = static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
      i += length;
    } else {
      *write++ = static_cast<char16_t>(cp);
      i += length;
    }
  }
  out.resize(static_cast<std::size_t>(write - out.data()));
}

void appendUtf16AsUtf8(std::u16string_view text, std::string& out) {
  const std::size_t oldSize = out.size();
  out.resize(oldSize + text.size() * 3);  // at most 3 bytes per unit
  char* write = out.data() + oldSize;
  std::size_t i = 0;
  while (i < text.size()) {
    while (i + 4 <= text.size() && (text[i] | text[i + 1] | text[i + 2] | text[i + 3]) < 0x80) {
      for (std::size_t k = 0; k < 4; ++k) write[k] = static_cast<char>(text[i + k]);
      write += 4;
      i += 4;
    }
    if (i == text.size()) break;
    const char16_t unit = text[i];
    if (unit < 0x80) {
      *write++ = static_cast<char>(unit);
      ++i;
    } else if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
               text[i + 1] <= 0xDFFF) {
      const char32_t cp = 0x10000 + ((static_cast<char32_t>(unit) - 0xD800) << 10) +
                          (static_cast<char32_t>(text[i + 1]) - 0xDC00);
      write = writeCodePointUtf8(cp, write);
      i += 2;
    } else if (unit >= kEscapeBase + 0x80 && unit <= kEscapeBase + 0xFF) {
      *write++ = static_cast<char>(unit - kEscapeBase);  // an escaped raw byte
      ++i;
    } else if (unit >= 0xD800 && unit <= 0xDFFF) {
      *write++ = '?';  // a lone surrogate that no byte string produced
      ++i;
    } else {
      write = writeCodePointUtf8(unit, write);
      ++i;
    }
  }
  out.resize(static_cast<std::size_t>(write - out.data()));
}

bool isValidUtf8(std::string_view bytes) {
  char32_t ignored = 0;
  for (std::size_t i = 0; i < bytes.size();) {
    const std::size_t length = wellFormedLength(bytes.substr(i), ignored);
    if (length == 0) return false;
    i += length;
  }
  return true;
}

std::u16string utf8ToUtf16(std::string_view bytes) {
  std::u16string out;
  appendUtf8AsUtf16(bytes, out);
  return out;
}

std::string utf16ToUtf8(std::u16string_view text) {
  std::string out;
  appendUtf16AsUtf8(text, out);
  return out;
}

}  // namespace RazaDedeZuzev::platform
