#include "platform/Unicode.h"

#include <cstdint>

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

void appendCodePointUtf8(char32_t cp, std::string& out) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

}  // namespace

void appendUtf8AsUtf16(std::string_view bytes, std::u16string& out) {
  out.reserve(out.size() + bytes.size());
  std::size_t i = 0;
  while (i < bytes.size()) {
    const auto b0 = static_cast<unsigned char>(bytes[i]);
    if (b0 < 0x80) {  // ASCII fast path
      out.push_back(b0);
      ++i;
      continue;
    }
    char32_t cp = 0;
    const std::size_t length = wellFormedLength(bytes.substr(i), cp);
    if (length == 0) {
      out.push_back(static_cast<char16_t>(kEscapeBase + b0));
      ++i;
    } else if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
      i += length;
    } else {
      out.push_back(static_cast<char16_t>(cp));
      i += length;
    }
  }
}

void appendUtf16AsUtf8(std::u16string_view text, std::string& out) {
  out.reserve(out.size() + text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    const char16_t unit = text[i];
    if (unit < 0x80) {
      out.push_back(static_cast<char>(unit));
      ++i;
    } else if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
               text[i + 1] <= 0xDFFF) {
      const char32_t cp = 0x10000 + ((static_cast<char32_t>(unit) - 0xD800) << 10) +
                          (static_cast<char32_t>(text[i + 1]) - 0xDC00);
      appendCodePointUtf8(cp, out);
      i += 2;
    } else if (unit >= kEscapeBase + 0x80 && unit <= kEscapeBase + 0xFF) {
      out.push_back(static_cast<char>(unit - kEscapeBase));  // an escaped raw byte
      ++i;
    } else if (unit >= 0xD800 && unit <= 0xDFFF) {
      out.push_back('?');  // a lone surrogate that no byte string produced
      ++i;
    } else {
      appendCodePointUtf8(unit, out);
      ++i;
    }
  }
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
